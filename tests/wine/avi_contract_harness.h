// The AVI service's contract cases (tests/avi_contract) as checks of win32_backend_checks: the
// Google Test assertions they use, over CHECK. An ASSERT ends its case, as in Google Test.
#pragma once

#include <string>

#include "tests/wine/check.h"

// Adds a case to those check_avi_contract runs; returns a dummy for static registration.
int register_avi_contract(const char* name, void (*run)());
// A file in the checks' scratch folder.
std::string scratch_path(const std::string& name);

#define AVI_CONTRACT(name)                                                                      \
    void avi_contract_##name();                                                                 \
    const int avi_contract_##name##_added = register_avi_contract(#name, avi_contract_##name);  \
    void avi_contract_##name()

#define CONTRACT_CHECK(c) CHECK(c)
#define EXPECT_TRUE(c) CHECK(c)
#define EXPECT_FALSE(c) CHECK(!(c))
#define EXPECT_EQ(a, b) CHECK((a) == (b))
#define EXPECT_NE(a, b) CHECK((a) != (b))
#define EXPECT_LE(a, b) CHECK((a) <= (b))
#define ASSERT_LT(a, b) do { if (!CHECK((a) < (b))) return; } while (0)
#define ASSERT_TRUE(c) do { if (!CHECK(c)) return; } while (0)
#define ASSERT_EQ(a, b) do { if (!CHECK((a) == (b))) return; } while (0)
#define ASSERT_NE(a, b) do { if (!CHECK((a) != (b))) return; } while (0)
