#include <gtest/gtest.h>

#include "core/net/ex_string_list.h"
#include "core/net/url_codec.h"
#include "core/net/uu_processor.h"

namespace pellora {
namespace {

TEST(UUProcessor, MimeEncodingAsOneLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"user:pass", "dXNlcjpwYXNz"},
      {std::string("\xff\xfe\x00", 3), "//4A"},
  };
  for (const auto& [data, encoded] : cases) EXPECT_EQ(TUUProcessor::uuMime(data), encoded) << data;
  const std::string encoded = TUUProcessor::uuMime(std::string(300, 'x'));
  EXPECT_EQ(encoded.size(), 400u);
  EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
}

TEST(UrlCodec, EncodeAndDecode) {
  EXPECT_EQ(TUrlCodec::Encode("a b&c=d/\xe3\x81\x82"), "a+b%26c%3dd%2f%e3%81%82");
  EXPECT_EQ(TUrlCodec::Decode("a+b%26c%3Dd%2f%e3%81%82"), "a b&c=d/\xe3\x81\x82");
  EXPECT_EQ(TUrlCodec::Decode("100%"), "100%");  // incomplete escapes stay
  EXPECT_EQ(TUrlCodec::Decode("%zz%4"), "%zz%4");
}

TEST(ExStringList, NamesValuesInPlace) {
  TExStringList list;
  list.Add("GET / HTTP/1.0");
  list.Add("no colon here");
  list.SetValue("Host", "a");
  list.SetValue("X-Two", "2");
  list.SetValue("host", "b");  // same name, other case: replaced in place
  EXPECT_EQ(list.IndexOfName("HOST"), 2);
  EXPECT_EQ(list.IndexOfName("no colon here"), -1);
  EXPECT_EQ(list.GetValue("Host"), "b");
  EXPECT_EQ(list.GetValue("Missing"), "");
  list.SetValue("X-Two", "");
  EXPECT_EQ(list.Text(), "GET / HTTP/1.0\r\nno colon here\r\nhost: b\r\n");
}

}  // namespace
}  // namespace pellora
