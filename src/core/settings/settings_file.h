#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/file_system.h"
#include "core/sequence/int_conversion.h"
#include "core/sequence/sequence_model.h"
#include "core/settings/settings.h"

namespace pellora {

// A job file (".pel"): a header line, then one "key = value" line per option and
// per From/To field.

inline constexpr char kSettingsFileHeader[] = "//Pellora1 Settings//";
inline constexpr char kSettingsFileExtension[] = "pel";
// A job file is a few hundred bytes; anything this large was dropped by mistake.
inline constexpr size_t kMaxSettingsFileSize = 1024 * 1024;

// An integer setting whose value is not an integer; loading stopped at its line.
class ESettingsValueError : public EConvertError {
 public:
  ESettingsValueError(size_t line, std::string key, std::string value);
  size_t Line;  // 1-based
  std::string Key;
  std::string Value;
};

// The file's lines for the current settings, each ended by CR LF.
std::string MakeSettingsFileText(const TSettings& settings, const TSequenceModel& model);

// Code page 932 when every character has a form there, else UTF-8 behind a
// byte-order mark.
std::string EncodeSettingsFile(std::string_view text);
// A byte-order mark or valid UTF-8 means UTF-8; anything else is code page 932.
std::string DecodeSettingsFile(std::string_view bytes);

// Lines ended by CR LF, a lone LF or a lone CR.
std::vector<std::string> SplitLines(std::string_view text);

// A line's key and value, both trimmed of blanks and control characters; the
// first "=" separates them. nullopt for a line without "=".
struct TSettingsLine {
  std::string_view Key;
  std::string_view Value;
};
std::optional<TSettingsLine> SplitSettingsLine(std::string_view line);

// Applies one line to the settings and the job fields. Lines without "=", unknown
// keys and flags that are not exactly "true" or "false" change nothing. Returns
// whether the line named a known key. Throws EConvertError when an integer
// setting's value is not an integer.
bool ApplySettingsLine(std::string_view line, TSettings& settings, TSequenceModel& model);

// Writes the file so that a failure leaves an existing file as it was. Throws
// EFileError.
void SaveSettingsFile(const std::string& path, const TSettings& settings,
                      const TSequenceModel& model);

// The file meant by a name typed into the open dialog: the name as typed when
// something of that name exists or its last part has an extension, else the name
// with ".pel" appended.
std::string SettingsFileToOpen(const std::string& typed);

// Applies the file's lines in order. Throws EFileError when the file cannot be
// read (or is too large), ESettingsValueError at a bad integer (the lines before
// it stay applied).
void LoadSettingsFile(const std::string& path, TSettings& settings, TSequenceModel& model);

// The messages for a job file that cannot be read or written and for a bad
// integer in it, naming the file and the reason, as every front-end shows them.
std::string DescribeSettingsFileReadError(const EFileError& error);
std::string DescribeSettingsFileWriteError(const EFileError& error);
std::string DescribeSettingsValueError(const std::string& path, const ESettingsValueError& error);

}  // namespace pellora
