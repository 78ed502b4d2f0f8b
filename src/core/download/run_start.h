#pragma once

#include <functional>
#include <string>

namespace pellora {

struct TSettings;
class TSequenceModel;
class THttpClient;

// How the start of a run talks to the user.
struct TStartDialogs {
  // A plain message with an OK button.
  std::function<void(const std::string& text, const std::string& caption)> Message;
  // A Yes/No question with the exclamation icon; true for Yes.
  std::function<bool(const std::string& text, const std::string& caption)> AskYesNo;
};

// The checks before a run, in order: empty number fields become "0", the number
// fields must be integers and each start must not exceed its end (the model
// reports those through its own message handler), the To base folder must be
// given, and a missing one is offered for creation with all its parents. Sets the
// model's InputError; true when the run may start.
bool PrepareRunStart(TSequenceModel& model, const TStartDialogs& dialogs);

// Hands the connection options to the client: proxy only when it is switched on,
// credentials only when authorization is, the header texts always.
void ApplyClientSettings(const TSettings& settings, THttpClient& client);

}  // namespace pellora
