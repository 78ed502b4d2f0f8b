#pragma once

#include <QString>

#include <string>

#include "core/download/run_host.h"

namespace pellora {

// The line the progress window shows while a file waits to be tried again, e.g.
// "（再試行 2/4、3 秒後）". A retry of a file other than `currentUrl` (one fetched
// ahead) names that file.
QString RetryNoteText(const TRetryNotice& notice, const std::string& currentUrl);

}  // namespace pellora
