// SPDX-License-Identifier: GPL-3.0-or-later
// A program for the runner's tests to start and end: it only waits.
#include <windows.h>

int main() {
    ::Sleep(60000);
    return 0;
}
