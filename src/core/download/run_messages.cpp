#include "core/download/run_messages.h"

#include "core/sequence/int_conversion.h"

namespace pellora {

namespace {

const char* CertProblemText(TCertProblem problem) {
  switch (problem) {
    case TCertProblem::Expired:
      return "証明書の有効期限が切れています。";
    case TCertProblem::NotYetValid:
      return "証明書の有効期間がまだ始まっていません。";
    case TCertProblem::WrongName:
      return "証明書がこのサーバ名のものではありません。";
    case TCertProblem::UnknownIssuer:
      return "証明書の発行者（認証局）が信頼されていません。";
    case TCertProblem::Revoked:
      return "証明書が失効しています。";
    case TCertProblem::Other:
      break;
  }
  return "証明書が正しくありません。";
}

}  // namespace

TRunMessage ConnectionErrorMessage(int32_t fromNumber, const std::string& reason,
                                   uint32_t timeOutMs, bool viaProxy) {
  std::string text = "From : " + IntToStr(fromNumber) + "\n" +
                     "Fromで指定されたサーバまでの接続が確立できません。\n"
                     "アドレスに間違いがないか確認してください。";
  if (viaProxy) {
    text += "\nProxyサーバを経由している場合は、そのアドレスも確認してください。";
  }
  // What the socket layer saw tells "refused" from "timed out" from "cut off".
  if (!reason.empty()) text += "\n\n詳細 : " + reason;
  if (timeOutMs != 0)
    text += "（" + std::to_string(timeOutMs) + " ミリ秒のあいだ応答がありません）";
  return {text, "接続エラー"};
}

TRunMessage CertificateErrorMessage(int32_t fromNumber, const ECertificateError& error) {
  const std::string text = "From : " + IntToStr(fromNumber) + "\n" + "サーバ " + error.Host +
                           " の証明書を確認できないため、接続を中止しました。\n" +
                           "理由 : " + CertProblemText(error.Problem) + "\n(" + error.Reason +
                           ")\n\n"
                           "社内の認証局などを信頼するには、オプションで"
                           "認証局の証明書ファイルを指定してください。";
  return {text, "証明書エラー"};
}

}  // namespace pellora
