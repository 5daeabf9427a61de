#pragma once
// The running program as the support's programs see it: its own file and folder, its current
// directory, whether Wine runs it, and the entry point they use. On kernel32 alone, so that
// child_probe stays as light to start as an installer stand-in must be.
#include <string>

namespace support {

// The running executable, and its directory with a trailing backslash.
std::wstring own_path();
std::wstring own_directory();

std::wstring current_directory();

bool running_under_wine();

}  // namespace support

// Support programs use the wide console entry point, which the system headers do not declare.
int wmain(int argc, wchar_t** argv);
