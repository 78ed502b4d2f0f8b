#include "core/sequence/sequence_model.h"

#include <algorithm>
#include <array>

#include "core/sequence/int_conversion.h"
#include "core/sequence/mapping.h"

namespace pellora {

namespace {

constexpr char kIntegerErrorCaption[] = "整数エラー";
constexpr char kUnexpectedErrorText[] = "予期せぬエラーが発生しました。";
constexpr TFieldError kNumberError{"数値部分の範囲が整数でないか、\nまたは絶対値が大きすぎます。",
                                   kIntegerErrorCaption};
constexpr TFieldError kMaxError{"最大ファイル数が整数でないか、\nまたは絶対値が大きすぎます。",
                                kIntegerErrorCaption};

constexpr std::array<TFieldId, 4> kNumberFields{TFieldId::FromStart, TFieldId::FromEnd,
                                                TFieldId::ToStart, TFieldId::ToEnd};

TSide SideOf(TFieldId id) {
  return id <= TFieldId::FromMax ? TSide::From : TSide::To;
}

// An empty number field counts as 0; the caller has checked the others.
int32_t NumberOrZero(const std::string& text) {
  return text.empty() ? 0 : StrToInt(text);
}

}  // namespace

TSequenceModel::TSequenceModel(const TSettings& settings) : Settings(settings) {
  FromFields.Dir = kDefaultFromDir;
}

const std::string& TSequenceModel::Text(TFieldId id) const {
  return const_cast<TSequenceModel*>(this)->TextRef(id);
}

std::string& TSequenceModel::TextRef(TFieldId id) {
  TSideFields& side = Fields(SideOf(id));
  switch (id) {
    case TFieldId::FromDir:
    case TFieldId::ToDir:
      return side.Dir;
    case TFieldId::FromFile:
    case TFieldId::ToFile:
      return side.File;
    case TFieldId::FromStart:
    case TFieldId::ToStart:
      return side.Start;
    case TFieldId::FromEnd:
    case TFieldId::ToEnd:
      return side.End;
    case TFieldId::FromMax:
    case TFieldId::ToMax:
      break;
  }
  return side.Max;
}

void TSequenceModel::SetText(TFieldId id, const std::string& text) {
  std::string& field = TextRef(id);
  if (field == text) return;
  field = text;
  Changed();
  RunHandler(SideOf(id));
}

void TSequenceModel::SetDepth(TSide side, int depth) {
  depth = std::clamp(depth, kMinDepth, kMaxDepth);
  TSideFields& fields = Fields(side);
  if (fields.Depth == depth) return;
  fields.Depth = depth;
  Changed();
  RunHandler(side);
}

void TSequenceModel::FromChange() {
  SideChange(TSide::From);
}
void TSequenceModel::ToChange() {
  SideChange(TSide::To);
}

void TSequenceModel::SideChange(TSide sideId) {
  const bool remote = sideId == TSide::From;
  // 1-4: clear the error flag and read the side's fields.
  InputError = 0;
  TSideSpec spec;
  spec.IsRemote = remote;
  spec.Separator = std::string(remote ? kRemoteSeparator : kLocalSeparator);
  int depth = Fields(sideId).Depth;
  std::string maxText = Fields(sideId).Max;
  if (maxText == "1") maxText = kUnlimited;

  // 5: every number field must hold an integer (or nothing).
  CheckFileInt();
  if (InputError != 0) return;

  // 6: without packing the To range is as long as the From range.
  if (!Settings.NumPack && !FromFields.Start.empty() && !FromFields.End.empty() &&
      !ToFields.Start.empty()) {
    const int32_t toEnd = WrapAdd(WrapSub(StrToInt(ToFields.Start), StrToInt(FromFields.Start)),
                                  StrToInt(FromFields.End));
    SetText(TFieldId::ToEnd, IntToStr(toEnd));
  }

  // 7: the side's range, re-read after the cascades above.
  const TSideFields& side = Fields(sideId);
  const int32_t start = NumberOrZero(side.Start);
  const int32_t end = NumberOrZero(side.End);

  // 8: the maximum per folder decides whether the side has a hierarchy.
  int32_t maxPerFolder = 0;
  int minimumDepth = 0;
  if (maxText != kUnlimited && !maxText.empty()) {
    int32_t value = 0;
    try {
      value = StrToInt(maxText);
    } catch (const EConvertError&) {
      Report(1, kMaxError.Text, kMaxError.Caption);
      return;
    } catch (const std::exception&) {
      Report(-1, kUnexpectedErrorText, "最大ファイル数の予期せぬエラー");
      return;
    }
    if (value >= 2) {
      maxPerFolder = value;
      minimumDepth = MinimumDepth(end, maxPerFolder);
    }
  }
  if (Fields(sideId).DepthEnabled != (maxPerFolder >= 2)) {
    Fields(sideId).DepthEnabled = maxPerFolder >= 2;
    Changed();
  }
  if (maxPerFolder < 2) {
    depth = 0;
    SetDepth(sideId, 0);
  }

  // 9: the depth never falls below what the end number needs.
  if (minimumDepth > depth) {
    depth = minimumDepth;
    SetDepth(sideId, depth);
  }

  // 10: the preview of the first and the last name.
  spec.BaseDir = Fields(sideId).Dir;
  spec.FilePattern = Fields(sideId).File;
  spec.MaxPerFolder = maxPerFolder;
  spec.Depth = depth;
  TSideFields& out = Fields(sideId);
  out.PreStart = MakeFullName(spec, start, Settings.AutoSlash);
  out.PreEnd = MakeFullName(spec, end, Settings.AutoSlash);
  if (!remote && Settings.NumPack) out.PreEnd += kReferenceValueSuffix;
  Changed();

  if (!remote) return;
  // 11-12: the links from the From side to the To side.
  if (Settings.FileSync) SetText(TFieldId::ToFile, FromFields.File);
  if (Settings.NumSync) {
    SetText(TFieldId::ToStart, FromFields.Start);
    SetText(TFieldId::ToEnd, FromFields.End);
  }
}

void TSequenceModel::EnableToFields() {
  ToFileOn = !Settings.FileSync;
  ToStartOn = !Settings.NumSync;
  ToEndOn = !Settings.NumSync && Settings.NumPack;
  Changed();
}

void TSequenceModel::EnableToFieldsWithLinks() {
  if (Settings.FileSync) SetText(TFieldId::ToFile, FromFields.File);
  if (Settings.NumSync) {
    SetText(TFieldId::ToStart, FromFields.Start);
    SetText(TFieldId::ToEnd, FromFields.End);
  }
  EnableToFields();
}

void TSequenceModel::NormalizeNumberFields() {
  for (TFieldId id : kNumberFields) {
    if (Text(id).empty()) SetText(id, "0");
  }
}

void TSequenceModel::CheckFileInt() {
  for (TFieldId id : kNumberFields) {
    const std::string& text = Text(id);
    if (text.empty()) continue;
    try {
      StrToInt(text);
    } catch (const EConvertError&) {
      Report(1, kNumberError.Text, kNumberError.Caption);
      return;
    } catch (const std::exception&) {
      Report(-1, kUnexpectedErrorText, "数値部分の予期せぬエラー");
      return;
    }
  }
}

void TSequenceModel::CheckFileValue() {
  constexpr char kOrderCaption[] = "大小関係エラー";
  try {
    if (StrToInt(FromFields.Start) > StrToInt(FromFields.End)) {
      Report(1, "Fromの始点を、終点より小さい数値にしてください。", kOrderCaption);
      return;
    }
    if (StrToInt(ToFields.Start) > StrToInt(ToFields.End)) {
      Report(1, "Toの始点を、終点より小さい数値にしてください。", kOrderCaption);
    }
  } catch (const EConvertError&) {
    // Only reachable when a caller skipped the integer check.
    Report(1, kNumberError.Text, kNumberError.Caption);
  }
}

std::optional<TFieldError> TSequenceModel::FieldError(TFieldId id, const std::string& text) {
  const bool number =
      std::find(kNumberFields.begin(), kNumberFields.end(), id) != kNumberFields.end();
  const bool maximum = id == TFieldId::FromMax || id == TFieldId::ToMax;
  if (text.empty() || (!number && !maximum) || TryStrToInt(text)) return std::nullopt;
  if (number) return kNumberError;
  if (text == kUnlimited) return std::nullopt;
  return kMaxError;
}

void TSequenceModel::Report(int32_t error, const char* text, const char* caption) {
  InputError = error;
  if (OnMessage) OnMessage(text, caption);
}

}  // namespace pellora
