#include "integrity.h"

PayloadSum payloadSums[] = {
#include "payload_sums.inc"
};

const int payloadSumCount = sizeof payloadSums / sizeof payloadSums[0];
