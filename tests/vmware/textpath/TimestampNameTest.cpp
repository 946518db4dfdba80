#include "TimestampName.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>

namespace qvt {
namespace {

const std::wstring kSuffix = L"_QVT20170102030405";

TEST(TimestampSuffix, IsFourteenDigitsOfTheTime) {
  EXPECT_EQ(TimestampSuffixAt(platform::LocalTime{2017, 1, 2, 3, 4, 5}), kSuffix);
  EXPECT_EQ(TimestampSuffixAt(platform::LocalTime{999, 12, 31, 23, 59, 59}), L"_QVT09991231235959");
  const std::wstring now = TimestampSuffix();
  EXPECT_TRUE(boost::regex_match(now, boost::wregex(L"_QVT20[0-9]{12}"))) << now;
}

TEST(ApplyTimestampSuffix, ReplacesAnEarlierSuffixInsteadOfAddingOne) {
  struct Case {
    const wchar_t* stem;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"base", L"base_QVT20170102030405"},
      {L"base_QVT19990101000000", L"base_QVT20170102030405"},
      {L"base_QVT19990101000000-0000abcd", L"base_QVT20170102030405-0000abcd"},
      {L"base_QVT1999", L"base_QVT1999_QVT20170102030405"},
      {L"base_qvt19990101000000", L"base_qvt19990101000000_QVT20170102030405"},
      {L"base_QVT19990101000000-0000abcg", L"base_QVT19990101000000-0000abcg_QVT20170102030405"},
      {L"a_QVT11111111111111_QVT22222222222222", L"a_QVT11111111111111_QVT20170102030405"},
  };
  for (const Case& c : cases) EXPECT_EQ(ApplyTimestampSuffix(c.stem, kSuffix), c.expected);
}

TEST(RenameWithTimestamp, KeepsTheExtension) {
  EXPECT_EQ(RenameWithTimestamp(L"base.vmx", kSuffix), L"base_QVT20170102030405.vmx");
  EXPECT_EQ(RenameWithTimestamp(L"base_QVT20170102030405.vmx", L"_QVT20180101000000"),
            L"base_QVT20180101000000.vmx");
  EXPECT_EQ(RenameWithTimestamp(L"disk-s001.vmdk", kSuffix), L"disk-s001_QVT20170102030405.vmdk");
  EXPECT_EQ(RenameWithTimestamp(L"nvram", kSuffix), L"nvram_QVT20170102030405");
}

}  // namespace
}  // namespace qvt
