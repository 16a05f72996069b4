#include "state.h"

#include <gtest/gtest.h>

#include "progman_support.h"
#include "wintest.h"

const char DEFAULT_DIR[] = "C:\\Program Files\\Tarnlink";
const char UNINSTALL_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnlink Suite";
const char SETTINGS_PATH[] = "Software\\Quorvale\\Tarnlink\\Settings";

MachineState operator+(MachineState state, const MachineState &overrides)
{
    for (const auto &item : overrides)
        state[item.first] = item.second;
    return state;
}

MachineState Only(const MachineState &state, const std::string &prefix)
{
    MachineState kept;
    for (auto item = state.lower_bound(prefix); item != state.end() && item->first.find(prefix) == 0;
         ++item)
        kept.insert(*item);
    return kept;
}

std::string FileState(const std::string &bytes)
{
    DWORD crc = 0xFFFFFFFF;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int bit = 0; bit < 8; bit++)
            crc = crc >> 1 ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    char text[48];
    wsprintfA(text, "%u bytes, crc %08x", (unsigned)bytes.size(), (unsigned)~crc);
    return text;
}

MachineState LogState(const std::vector<std::string> &lines)
{
    MachineState state;
    for (size_t i = 0; i < lines.size(); i++) {
        char key[16];
        wsprintfA(key, "log %03u", (unsigned)i + 1);
        // A run's own directory has a number of its own: "~tl#####.tmp".
        std::string line = lines[i];
        for (size_t at = line.find("~tl"); at != std::string::npos; at = line.find("~tl", at + 1))
            if (line.compare(at + 8, 4, ".tmp") == 0 &&
                line.substr(at + 3, 5).find_first_not_of("0123456789") == std::string::npos)
                line.replace(at + 3, 5, "#####");
        state[key] = line.empty() ? "(empty)" : line;
    }
    return state;
}

namespace {

const char *const CAPTURED_ROOTS[] = {"C:\\tltest", DEFAULT_DIR, "C:\\WIN32APP", "C:\\Tarnlink"};
// The suites' own drives (the full one, another volume), where mounted.
const char *const CAPTURED_DRIVES[] = {"T:", "U:"};

// Files and directories under `path` ("dir" and the file's state), and the
// shortcuts' targets where `items`; `skip` is left out.
void AddFiles(MachineState &state, const std::string &prefix, const std::string &path,
              const std::string &skip, bool items)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName, full = path + "\\" + name;
        if (name == "." || name == ".." || full == skip)
            continue;
        std::string target, workingDirectory;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            state[prefix + full + "\\"] = "dir";
            AddFiles(state, prefix, full, skip, items);
        } else if (items && ReadShortcut(full, target, workingDirectory)) {
            state[prefix + full] = "-> " + target + " in " + workingDirectory;
        } else {
            state[prefix + full] = FileState(ReadFileBytes(full));
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::string ValueState(DWORD type, const std::string &data)
{
    if (type == REG_DWORD && data.size() == 4)
        return "REG_DWORD " + std::to_string(*(const DWORD *)data.data());
    if (type == REG_SZ && !data.empty() && data.find('\0') == data.size() - 1)
        return "REG_SZ " + data.substr(0, data.size() - 1);
    std::string text = "type " + std::to_string(type) + ":";
    for (unsigned char c : data) {
        char hex[4];
        wsprintfA(hex, " %02x", c);
        text += hex;
    }
    return text;
}

void AddKey(MachineState &state, HKEY root, const std::string &rootName, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    std::string shown = "reg " + rootName + "\\" + path;
    state[shown] = "key";
    char name[512];
    BYTE data[4096];
    for (DWORD i = 0;; i++) {
        DWORD nameSize = sizeof name, size = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        state[shown + " : " + name] = ValueState(type, std::string((const char *)data, size));
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; i++)
        subkeys.push_back(name);
    RegCloseKey(key);
    for (const std::string &subkey : subkeys)
        AddKey(state, root, rootName, path + "\\" + subkey);
}

} // namespace

MachineState TakeState(const std::string &skip, const std::string &log)
{
    MachineState state;
    for (const char *root : CAPTURED_ROOTS) {
        if (DirectoryExists(root))
            state[std::string("file ") + root + "\\"] = "dir";
        AddFiles(state, "file ", root, skip, false);
    }
    for (const char *drive : CAPTURED_DRIVES) {
        UINT type = GetDriveTypeA((std::string(drive) + "\\").c_str());
        if (type == DRIVE_FIXED || type == DRIVE_RAMDISK)
            AddFiles(state, "file ", drive, "", false);
    }
    // Of a drive's root only its files: an installation may go there.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\*", &found);
    do {
        if (search != INVALID_HANDLE_VALUE && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            state[std::string("file C:\\") + found.cFileName] =
                FileState(ReadFileBytes(std::string("C:\\") + found.cFileName));
    } while (search != INVALID_HANDLE_VALUE && FindNextFileA(search, &found));
    FindClose(search);
    AddKey(state, HKEY_LOCAL_MACHINE, "HKLM", "Software\\Quorvale");
    AddKey(state, HKEY_CURRENT_USER, "HKCU", "Software\\Quorvale");
    AddKey(state, HKEY_LOCAL_MACHINE, "HKLM", UNINSTALL_KEY);
    char section[8192] = "";
    GetProfileSectionA("Tarnlink Suite", section, sizeof section);
    for (const char *line = section; *line != '\0'; line += lstrlenA(line) + 1) {
        std::string text = line;
        size_t equals = text.find('=');
        state["ini " + text.substr(0, equals)] =
            equals == std::string::npos ? "(no value)" : "= " + text.substr(equals + 1);
    }
    AddFiles(state, "item ", ProgramsFolder(), "", true);
    AddFiles(state, "temp ", TempPath().substr(0, TempPath().size() - 1), "", false);
    return state + LogState(ReadLogLines(log));
}

MachineState DirectoryState(const std::string &dir)
{
    MachineState state;
    for (size_t end = dir.find('\\', 3);; end = dir.find('\\', end + 1)) {
        std::string parent = dir.substr(0, end);
        for (const char *root : CAPTURED_ROOTS)
            if ((parent + "\\").find(root + std::string("\\")) == 0)
                state["file " + parent + "\\"] = "dir";
        for (const char *drive : CAPTURED_DRIVES)
            if (parent.size() > 2 && parent.compare(0, 2, drive) == 0)
                state["file " + parent + "\\"] = "dir";
        if (end == std::string::npos)
            break;
    }
    return state;
}

void ExpectState(const MachineState &expected, const MachineState &actual, const std::string &row)
{
    std::string differences;
    auto shown = [](const MachineState &state, const std::string &key) {
        auto found = state.find(key);
        return found == state.end() || found->second.empty() ? std::string("(none)")
                                                              : found->second;
    };
    for (const MachineState *side : {&expected, (const MachineState *)&actual})
        for (const auto &item : *side) {
            if (side == &actual && expected.count(item.first))
                continue;
            std::string want = shown(expected, item.first), got = shown(actual, item.first);
            if (want != got)
                differences += "  " + item.first + "\n    expected: " + want + "\n    actual:   " +
                               got + "\n";
        }
    if (!differences.empty())
        ADD_FAILURE() << "the state differs " << row << "\n" << differences;
}
