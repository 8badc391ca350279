#pragma once
// libcurl's global set-up for the internet pager tests: each of their files
// asks for it, and the first ask registers it once for the whole program.
#include <gtest/gtest.h>

#include "protocols/KORInetPaging.h"

namespace nv::test {

class InetPagingEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(initInternetPaging()); }
    void TearDown() override { cleanupInternetPaging(); }
};

inline bool useInetPagingEnvironment() {
    static const bool registered = (::testing::AddGlobalTestEnvironment(new InetPagingEnvironment), true);
    return registered;
}

}  // namespace nv::test
