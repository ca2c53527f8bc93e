// Whether a line of the address list is worth sending to a service.
#pragma once

#include "platform/text.h"

namespace qarvo {

// True for a trimmed GBK text that can be an e-mail address: not empty, at
// most 254 bytes, holding an "@" that is neither first nor last, and no
// blank (space, tab, full-width space) or control character anywhere.
bool isEmailAddress(TextView address);

}  // namespace qarvo
