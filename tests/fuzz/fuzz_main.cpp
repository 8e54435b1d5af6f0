// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry: one executable per target, chosen at build time.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return kv::fuzz::KV_FUZZ_ENTRY(data, size);
}
