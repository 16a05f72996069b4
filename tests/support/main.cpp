// Entry of every suite: the code under test loads its texts, dialogs and
// payload from this module, as the setup program does from its own.
#include <gtest/gtest.h>

#include "base/session.h"

int main(int argc, char **argv)
{
    session.instance = GetModuleHandleA(nullptr);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
