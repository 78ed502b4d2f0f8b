#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/download/run_host.h"

namespace pellora::testing {

// A host without a GUI thread that records what the run shows and asks.
class TRecordingHost : public TRunHost {
 public:
  TRunFields Fields;
  std::deque<TErrorChoice> Answers;
  std::vector<std::string> Asked;
  std::vector<std::pair<std::string, std::string>> Messages;  // caption, text
  std::vector<TRunIcon> Icons;
  std::vector<TStepResult> Steps;
  std::vector<std::string> ShownUrls;
  std::string LastHeader, LastBody;
  int64_t GaugeMin = 0, GaugeMax = 0, GaugePos = 0;
  bool Closed = false;

  std::function<void()> OnIdle;
  std::function<void(const TStepResult&)> OnStep;
  std::vector<TRetryNotice> Retries;

  void Synchronize(const std::function<void()>& call) override { call(); }
  void Idle() override {
    if (OnIdle) OnIdle();
  }
  void ShowRetry(const TRetryNotice& notice) override { Retries.push_back(notice); }
  TRunFields ReadFields() override { return Fields; }
  void SetStartCaption(const std::string&) override {}
  void SetGaugeRange(int64_t minimum, int64_t maximum) override {
    GaugeMin = minimum;
    GaugeMax = maximum;
  }
  void SetGaugePosition(int64_t position) override { GaugePos = position; }
  void ShowCurrentFile(const std::string& url, const std::string&) override {
    ShownUrls.push_back(url);
  }
  void ShowReply(const std::string& header, const std::string& body) override {
    LastHeader = header;
    LastBody = body;
  }
  TErrorChoice AskAfterMissingFile(const std::string& url) override {
    Asked.push_back(url);
    if (Answers.empty()) return TErrorChoice::Skip;
    const TErrorChoice answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  void ShowMessage(const std::string& text, const std::string& caption, TRunIcon icon) override {
    Messages.emplace_back(caption, text);
    Icons.push_back(icon);
  }
  void CloseProgress() override { Closed = true; }
  void StepFinished(const TStepResult& result) override {
    Steps.push_back(result);
    if (OnStep) OnStep(result);
  }
};

}  // namespace pellora::testing
