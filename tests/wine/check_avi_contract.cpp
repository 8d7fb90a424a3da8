// Runs the AVI service's contract cases (tests/avi_contract/avi_contract.cpp) against the
// Windows backend, each in registration order, on clips written to the checks' scratch folder.
#include <string>
#include <utility>
#include <vector>

#include "tests/wine/avi_contract_harness.h"

namespace {

std::vector<std::pair<const char*, void (*)()>>& cases()
{
    static std::vector<std::pair<const char*, void (*)()>> all;
    return all;
}

std::string scratch_folder;

}  // namespace

int register_avi_contract(const char* name, void (*run)())
{
    cases().emplace_back(name, run);
    return int(cases().size());
}

std::string scratch_path(const std::string& name)
{
    return scratch_folder + "avistep-contract-" + name;
}

void check_avi_contract(const std::string& folder)
{
    scratch_folder = folder;
    for (const auto& c : cases())
        c.second();
}
