#pragma once
// A fixture for tests of code that finds the registry store through the environment.
// Header-only: only test programs that link the registry store include it.

#include "RegistryStore.h"
#include "ScopedEnvironment.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// For the test's duration TARNWICK_REGISTRY names storeDir_, a store folder not yet made
// inside the scratch folder folder_; store_ opens the same store directly. The variable's
// old value comes back afterwards, also when the test pointed it elsewhere meanwhile.
class ScratchRegistryTest : public testing::Test {
protected:
    TempFolder folder_;
    const std::string storeDir_ = folder_.Path() + "store";
    ScopedEnvironment storeVariable_{"TARNWICK_REGISTRY", storeDir_};
    platform::RegistryStore store_{storeDir_};
};

}  // namespace testsupport
