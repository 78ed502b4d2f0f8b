#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/settings/settings.h"

namespace pellora {

// The text fields of a job, five per side; the depth of a side is an integer.
enum class TFieldId {
  FromDir,
  FromFile,
  FromStart,
  FromEnd,
  FromMax,
  ToDir,
  ToFile,
  ToStart,
  ToEnd,
  ToMax
};

enum class TSide { From, To };

inline constexpr char kUnlimited[] = "無制限";
inline constexpr char kReferenceValueSuffix[] = "（参考値）";
inline constexpr char kDefaultFromDir[] = "http://www.varnel.jp/";

// What the rules say about a field's text that they refuse.
struct TFieldError {
  const char* Text;
  const char* Caption;
};

// What one tab page of the main window holds, and the preview of that side.
struct TSideFields {
  std::string Dir;
  std::string File = "*.html";
  std::string Start = "1";
  std::string End = "100";
  std::string Max = kUnlimited;
  int Depth = 0;
  bool DepthEnabled = false;
  std::string PreStart;  // first name of the side, empty until the first preview
  std::string PreEnd;    // last name of the side
};

// The twelve From/To fields with their enabled states and previews, and the rules
// that tie them together. Front-ends mirror this model into their widgets and call
// SetText / SetDepth for every edit; a change made here by program code runs the
// handler of the changed field's side exactly as an edit does, but only when the
// value really changes.
class TSequenceModel {
 public:
  // Shows a modal message (one OK button, no icon) and returns when it was dismissed.
  using TMessageFn = std::function<void(const std::string& text, const std::string& caption)>;
  // Told after every change of a field, an enabled state or a preview.
  using TChangedFn = std::function<void()>;

  explicit TSequenceModel(const TSettings& settings);

  void SetMessageHandler(TMessageFn fn) { OnMessage = std::move(fn); }
  void SetChangedHandler(TChangedFn fn) { OnChanged = std::move(fn); }

  const TSideFields& From() const { return FromFields; }
  const TSideFields& To() const { return ToFields; }
  const std::string& Text(TFieldId id) const;
  int Depth(TSide side) const { return Fields(side).Depth; }
  bool ToFileEnabled() const { return ToFileOn; }
  bool ToStartEnabled() const { return ToStartOn; }
  bool ToEndEnabled() const { return ToEndOn; }
  int32_t InputError = 0;  // 0 none, 1 input error reported, -1 unexpected error reported

  // Sets a field; runs its side's handler when the text changed.
  void SetText(TFieldId id, const std::string& text);
  // Sets a depth, brought into 0..127; runs its side's handler when it changed.
  void SetDepth(TSide side, int depth);

  // Recompute one side's preview and apply the From-to-To links.
  void FromChange();
  void ToChange();

  // Enabled states of the To file and number fields from the link options.
  void EnableToFields();
  // One copy of the linked texts, then EnableToFields, as when the options are
  // confirmed.
  void EnableToFieldsWithLinks();

  // Empty number fields become "0" (before a run).
  void NormalizeNumberFields();
  // Every non-empty number field must be an integer; reports the first that is not.
  void CheckFileInt();
  // Each side's start must not exceed its end; reports the first side that fails.
  void CheckFileValue();

  // The message the side handlers give for `text` in the field `id`, without
  // reporting it; nullopt when they accept it. A number field takes an integer or
  // nothing, a maximum "無制限", nothing or an integer; other fields take any text.
  static std::optional<TFieldError> FieldError(TFieldId id, const std::string& text);

 private:
  TSideFields& Fields(TSide side) { return side == TSide::From ? FromFields : ToFields; }
  const TSideFields& Fields(TSide side) const {
    return side == TSide::From ? FromFields : ToFields;
  }
  std::string& TextRef(TFieldId id);
  void SideChange(TSide side);
  void RunHandler(TSide side) { side == TSide::From ? FromChange() : ToChange(); }
  void Report(int32_t error, const char* text, const char* caption);
  void Changed() {
    if (OnChanged) OnChanged();
  }

  const TSettings& Settings;
  TSideFields FromFields;
  TSideFields ToFields;
  bool ToFileOn = false;
  bool ToStartOn = false;
  bool ToEndOn = false;
  TMessageFn OnMessage;
  TChangedFn OnChanged;
};

}  // namespace pellora
