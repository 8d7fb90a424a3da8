// The AVI service's contract cases (tests/avi_contract) as Google Test cases of linux_tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/linux/avi_test_clips.h"

class AviContract : public avi_scratch {
protected:
    // A file in the case's own scratch folder.
    std::string scratch_path(const std::string& name) const { return path(name); }
};

#define AVI_CONTRACT(name) TEST_F(AviContract, name)

// A check whose outcome the case goes on with, as the Windows harness's CHECK.
inline bool contract_check(bool ok, const char* what, const char* file, int line)
{
    if (!ok)
        ADD_FAILURE_AT(file, line) << what;
    return ok;
}
#define CONTRACT_CHECK(c) contract_check((c), #c, __FILE__, __LINE__)
