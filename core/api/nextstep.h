#pragma once

#include "wifitypes.h"

#include <QString>

// What to do next when the module answers a message with a failing result: one short sentence for
// the user, shown beside the result by the window and after it by the console programs.
namespace nextstep
{

// The hint for `code` in answer to `message`, named as in the API ("sme_start_scan") or as logged
// ("wifi_rsp_sme_start_scan"); one for the code alone where the message does not matter; empty
// when there is none, and for success.
QString hint(uint16 code, const QString &message = QString());

} // namespace nextstep
