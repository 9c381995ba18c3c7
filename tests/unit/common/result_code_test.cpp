#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>

#include "common/result_code.h"

namespace {

using Code = std::int32_t;
constexpr Code kOk = 0;
constexpr Code kFirstFailure = static_cast<Code>(0x80004005u);
constexpr Code kOutOfMemory = static_cast<Code>(0x8007000Eu);
constexpr Code kUnexpected = static_cast<Code>(0x8000FFFFu);

Code Steps(Code first, Code second, int& reached)
{
    reached = 0;
    RETURN_IF_FAILED(first);
    reached = 1;
    RETURN_IF_FAILED(second);
    reached = 2;
    return kOk;
}

TEST(ResultCode, ReturnsTheFirstFailureAndPassesSuccesses)
{
    int reached = -1;
    EXPECT_EQ(Steps(kOk, 1, reached), kOk);  // a positive code is a success too
    EXPECT_EQ(reached, 2);
    EXPECT_EQ(Steps(kFirstFailure, kOutOfMemory, reached), kFirstFailure);
    EXPECT_EQ(reached, 0);
    EXPECT_EQ(Steps(kOk, kOutOfMemory, reached), kOutOfMemory);
    EXPECT_EQ(reached, 1);
}

TEST(ResultCode, GuardedTurnsExceptionsIntoCodes)
{
    EXPECT_EQ(lorvane::Guarded([] { return Code{1}; }, kOutOfMemory, kUnexpected), 1);
    EXPECT_EQ(lorvane::Guarded([]() -> Code { throw std::bad_alloc(); }, kOutOfMemory, kUnexpected), kOutOfMemory);
    EXPECT_EQ(lorvane::Guarded([]() -> Code { throw std::runtime_error("x"); }, kOutOfMemory, kUnexpected),
              kUnexpected);
}

}  // namespace
