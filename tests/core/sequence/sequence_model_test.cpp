#include "core/sequence/sequence_model.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace pellora {
namespace {

const std::string kIntegerMessage = "数値部分の範囲が整数でないか、\nまたは絶対値が大きすぎます。";
const std::string kMaxMessage = "最大ファイル数が整数でないか、\nまたは絶対値が大きすぎます。";

// A model over its own settings, recording messages and counting handler runs.
class SequenceModelTest : public ::testing::Test {
 protected:
  SequenceModelTest() : Model(Settings) {
    Model.SetMessageHandler([this](const std::string& text, const std::string& caption) {
      Messages.emplace_back(text, caption);
    });
  }

  // The start-up order: links enabled, then both previews.
  void StartUp() {
    Model.EnableToFields();
    Model.FromChange();
    Model.ToChange();
  }

  TSettings Settings;
  TSequenceModel Model;
  std::vector<std::pair<std::string, std::string>> Messages;
};

TEST_F(SequenceModelTest, FirstStartShowsBothPreviewsWithLinkedToFields) {
  Model.SetText(TFieldId::ToDir, "/home/u/dl");
  StartUp();
  EXPECT_FALSE(Model.ToFileEnabled());
  EXPECT_FALSE(Model.ToStartEnabled());
  EXPECT_FALSE(Model.ToEndEnabled());
  EXPECT_EQ(Model.From().PreStart, std::string(kDefaultFromDir) + "1.html");
  EXPECT_EQ(Model.From().PreEnd, std::string(kDefaultFromDir) + "100.html");
  EXPECT_EQ(Model.To().PreStart, "/home/u/dl/1.html");
  EXPECT_EQ(Model.To().PreEnd, "/home/u/dl/100.html");
  EXPECT_TRUE(Messages.empty());
}

TEST_F(SequenceModelTest, LinkedFieldsFollowEveryFromEdit) {
  StartUp();
  Model.SetText(TFieldId::FromFile, "img???.jpg");
  Model.SetText(TFieldId::FromStart, "5");
  Model.SetText(TFieldId::FromEnd, "12");
  EXPECT_EQ(Model.To().File, "img???.jpg");
  EXPECT_EQ(Model.To().Start, "5");
  EXPECT_EQ(Model.To().End, "12");
  EXPECT_EQ(Model.To().PreStart, "img005.jpg");  // empty To base: a bare relative name
  EXPECT_EQ(Model.To().PreEnd, "img012.jpg");
}

TEST_F(SequenceModelTest, ToEndIsDerivedWithoutNumSyncAndPack) {
  Settings.NumSync = false;
  StartUp();
  EXPECT_TRUE(Model.ToStartEnabled());
  EXPECT_FALSE(Model.ToEndEnabled());
  Model.SetText(TFieldId::ToStart, "201");
  EXPECT_EQ(Model.To().End, "300");
  Model.SetText(TFieldId::ToStart, "11");
  EXPECT_EQ(Model.To().End, "110");
  Model.SetText(TFieldId::FromEnd, "50");
  EXPECT_EQ(Model.To().End, "60");
  EXPECT_EQ(Model.To().PreEnd, "60.html");
}

TEST_F(SequenceModelTest, DerivedToEndWrapsAtThe32BitLimit) {
  Settings.NumSync = false;
  StartUp();
  Model.SetText(TFieldId::FromStart, "0");
  Model.SetText(TFieldId::FromEnd, "2147483647");
  Model.SetText(TFieldId::ToStart, "1");
  EXPECT_EQ(Model.To().End, "-2147483648");
  EXPECT_TRUE(Messages.empty());
}

TEST_F(SequenceModelTest, PackMarksTheToEndAsReferenceValue) {
  Settings.NumSync = false;
  Settings.NumPack = true;
  StartUp();
  EXPECT_TRUE(Model.ToEndEnabled());
  Model.SetText(TFieldId::ToEnd, "999");
  EXPECT_EQ(Model.To().End, "999");  // typed, not derived
  EXPECT_EQ(Model.To().PreEnd, "999.html（参考値）");
}

TEST_F(SequenceModelTest, DepthFollowsMaximumAndEnd) {
  StartUp();
  Model.SetText(TFieldId::ToDir, "/dl");
  Model.SetText(TFieldId::FromFile, "img???.jpg");
  Model.SetText(TFieldId::FromEnd, "12345");
  Model.SetText(TFieldId::ToMax, "100");
  EXPECT_TRUE(Model.To().DepthEnabled);
  EXPECT_EQ(Model.Depth(TSide::To), 2);
  EXPECT_EQ(Model.To().PreEnd, "/dl/1/123/img345.jpg");
  EXPECT_EQ(Model.To().PreStart, "/dl/0/0/img001.jpg");

  Model.SetDepth(TSide::To, 1);  // below the minimum: back to 2 at once
  EXPECT_EQ(Model.Depth(TSide::To), 2);
  Model.SetDepth(TSide::To, 4);  // above the minimum: stays
  EXPECT_EQ(Model.Depth(TSide::To), 4);
  EXPECT_EQ(Model.To().PreEnd, "/dl/0/0/1/123/img345.jpg");
  Model.SetDepth(TSide::To, 500);
  EXPECT_EQ(Model.Depth(TSide::To), 127);

  Model.SetText(TFieldId::ToMax, kUnlimited);
  EXPECT_FALSE(Model.To().DepthEnabled);
  EXPECT_EQ(Model.Depth(TSide::To), 0);
  EXPECT_EQ(Model.To().PreEnd, "/dl/img345.jpg");
}

TEST_F(SequenceModelTest, MaximumBelowTwoMeansNoHierarchy) {
  StartUp();
  for (const char* max : {"1", "0", "-5", "", "無制限"}) {
    Model.SetText(TFieldId::FromMax, "10");
    ASSERT_TRUE(Model.From().DepthEnabled);
    Model.SetText(TFieldId::FromMax, max);
    EXPECT_FALSE(Model.From().DepthEnabled) << "maximum '" << max << "'";
    EXPECT_EQ(Model.Depth(TSide::From), 0) << "maximum '" << max << "'";
    EXPECT_EQ(Model.From().PreEnd, std::string(kDefaultFromDir) + "100.html");
  }
  EXPECT_TRUE(Messages.empty());
}

TEST_F(SequenceModelTest, BadMaximumShowsOneMessagePerEditAndKeepsPreview) {
  StartUp();
  const std::string before = Model.From().PreEnd;
  Model.SetText(TFieldId::FromMax, "1x");
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], std::make_pair(kMaxMessage, std::string("整数エラー")));
  EXPECT_EQ(Model.InputError, 1);
  EXPECT_EQ(Model.From().PreEnd, before);
  Model.SetText(TFieldId::FromMax, "99999999999");
  EXPECT_EQ(Messages.size(), 2u);
}

TEST_F(SequenceModelTest, BadNumberShowsOneMessageAndKeepsBothPreviews) {
  StartUp();
  const std::string fromEnd = Model.From().PreEnd;
  const std::string toEnd = Model.To().PreEnd;
  Model.SetText(TFieldId::FromStart, "-");
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], std::make_pair(kIntegerMessage, std::string("整数エラー")));
  EXPECT_EQ(Model.InputError, 1);
  EXPECT_EQ(Model.From().PreEnd, fromEnd);
  EXPECT_EQ(Model.To().PreEnd, toEnd);
  EXPECT_EQ(Model.To().Start, "1");  // the link stopped with the preview

  Model.SetText(TFieldId::FromStart, "-5");
  EXPECT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Model.InputError, 0);
  EXPECT_EQ(Model.To().Start, "-5");
  EXPECT_EQ(Model.From().PreStart, std::string(kDefaultFromDir) + "-5.html");
}

// FieldError says, without reporting, what the side handlers report for a text.
TEST(SequenceModelFieldError, AgreesWithTheHandlers) {
  const struct {
    TFieldId Field;
    const char* Text;
    const std::string* Message;  // nullptr: accepted
  } cases[] = {
      {TFieldId::FromStart, "12", nullptr},
      {TFieldId::FromStart, "", nullptr},
      {TFieldId::FromStart, "1x", &kIntegerMessage},
      {TFieldId::ToEnd, "99999999999", &kIntegerMessage},
      {TFieldId::ToStart, "-", &kIntegerMessage},
      {TFieldId::FromMax, "無制限", nullptr},
      {TFieldId::FromMax, "1", nullptr},
      {TFieldId::ToMax, "", nullptr},
      {TFieldId::ToMax, "abc", &kMaxMessage},
      {TFieldId::FromMax, "10.5", &kMaxMessage},
      {TFieldId::FromFile, "1x", nullptr},
      {TFieldId::ToDir, "-", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + " in field " + std::to_string(static_cast<int>(c.Field)));
    const std::optional<TFieldError> error = TSequenceModel::FieldError(c.Field, c.Text);
    ASSERT_EQ(error.has_value(), c.Message != nullptr);
    TSettings settings;
    TSequenceModel model(settings);
    std::vector<std::string> reported;
    model.SetMessageHandler(
        [&](const std::string& text, const std::string&) { reported.push_back(text); });
    model.SetText(c.Field, c.Text);
    if (error) {
      EXPECT_EQ(error->Text, *c.Message);
      EXPECT_EQ(std::string(error->Caption), "整数エラー");
      EXPECT_EQ(reported, std::vector<std::string>{*c.Message});
    } else {
      EXPECT_EQ(reported, std::vector<std::string>{});
    }
  }
}

TEST_F(SequenceModelTest, AutoSlashAndAmpersandsInNames) {
  Settings.AutoSlash = false;
  StartUp();
  Model.SetText(TFieldId::FromDir, "http://h/a&b");
  EXPECT_EQ(Model.From().PreStart, "http://h/a&b1.html");
  Settings.AutoSlash = true;
  Model.FromChange();
  EXPECT_EQ(Model.From().PreStart, "http://h/a&b/1.html");
}

TEST_F(SequenceModelTest, ValidationBeforeARun) {
  struct Case {
    const char *fromStart, *fromEnd, *toStart, *toEnd;
    const char* message;  // nullptr: accepted
  } cases[] = {
      {"1", "1", "1", "1", nullptr},
      {"1", "", "1", "1", "Fromの始点を、終点より小さい数値にしてください。"},
      {"10", "5", "1", "100", "Fromの始点を、終点より小さい数値にしてください。"},
      {"1", "5", "9", "2", "Toの始点を、終点より小さい数値にしてください。"},
      {"x", "y", "1", "1", kIntegerMessage.c_str()},
      {"1", "12345678901", "1", "1", kIntegerMessage.c_str()},
  };
  Settings.NumSync = false;
  Settings.NumPack = true;  // so the To end is typed, not derived
  for (const Case& c : cases) {
    TSequenceModel model(Settings);
    std::vector<std::string> shown;
    model.SetText(TFieldId::FromStart, c.fromStart);
    model.SetText(TFieldId::FromEnd, c.fromEnd);
    model.SetText(TFieldId::ToStart, c.toStart);
    model.SetText(TFieldId::ToEnd, c.toEnd);
    model.SetMessageHandler(
        [&](const std::string& text, const std::string&) { shown.push_back(text); });
    model.InputError = 0;
    model.NormalizeNumberFields();
    model.CheckFileInt();
    if (model.InputError == 0) model.CheckFileValue();
    const std::string label =
        std::string(c.fromStart) + ".." + c.fromEnd + " / " + c.toStart + ".." + c.toEnd;
    if (c.message) {
      ASSERT_EQ(shown.size(), 1u) << label;
      EXPECT_EQ(shown.back(), c.message) << label;
      EXPECT_EQ(model.InputError, 1) << label;
    } else {
      EXPECT_TRUE(shown.empty()) << label;
      EXPECT_EQ(model.InputError, 0) << label;
    }
  }
}

TEST_F(SequenceModelTest, NormalizeFillsEmptyFieldsAndCascades) {
  StartUp();
  Model.SetText(TFieldId::FromEnd, "");
  EXPECT_EQ(Model.To().End, "");
  Model.NormalizeNumberFields();
  EXPECT_EQ(Model.From().End, "0");
  EXPECT_EQ(Model.To().End, "0");  // linked by the cascade
}

TEST_F(SequenceModelTest, ProgrammaticSetOfSameTextRunsNothing) {
  StartUp();
  int changes = 0;
  Model.SetChangedHandler([&] { ++changes; });
  Model.SetText(TFieldId::FromFile, Model.From().File);
  Model.SetDepth(TSide::From, Model.Depth(TSide::From));
  EXPECT_EQ(changes, 0);
}

TEST_F(SequenceModelTest, LinksAppliedOnceAfterOptionsConfirmed) {
  Settings.FileSync = false;
  Settings.NumSync = false;
  StartUp();
  Model.SetText(TFieldId::ToFile, "x*.bin");
  Model.SetText(TFieldId::ToStart, "500");
  Settings.FileSync = true;
  Settings.NumSync = true;
  Model.EnableToFieldsWithLinks();
  EXPECT_EQ(Model.To().File, "*.html");
  EXPECT_EQ(Model.To().Start, "1");
  EXPECT_EQ(Model.To().End, "100");
  EXPECT_FALSE(Model.ToFileEnabled());
  EXPECT_FALSE(Model.ToStartEnabled());
}

}  // namespace
}  // namespace pellora
