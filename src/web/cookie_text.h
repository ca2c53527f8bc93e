// Cookies read from response header text, and cookie texts merged.
//
// Pure functions over the header text a response brought (CR LF separated
// lines, as GetAllResponseHeaders or a raw head hands them out), so that the
// request object, the page fetch and the function-interface fetch share one
// reading of Set-Cookie lines and tests need no server. Texts are the bytes
// the server sent; header lines end at every CR LF, also after a byte of
// 0x80 or above. Nothing here allocates per byte.
#pragma once

#include "platform/text.h"

namespace qarvo {

// Every line that begins with "Set-Cookie:" (exactly so), each followed by
// CR LF, in header order; empty when there are none.
Text setCookieLinesOf(TextView headers);

// The page fetch's response cookies: the Set-Cookie lines with every
// "Set-Cookie: " removed and every CR LF turned into "; ". Attributes stay
// in; the text ends in "; " when it is not empty.
Text responseCookiesOf(TextView headers);

// The value of the cookie `name`: the text after "Set-Cookie: name=" (or,
// failing that, "Set-Cookie:name=") up to the next ";" and never past the
// end of its header line. Empty when neither is found.
Text responseCookieValueOf(TextView headers, TextView name);

// The cookies the function-interface fetch hands back: for each line whose
// text before the first ": " is "Set-Cookie", the value up to its first ";"
// (or a stray CR or LF) with blanks trimmed, joined by "; " (no "; " at the
// end).
Text returnedCookiesOf(TextView rawHeaders);

// The cookies the internet-library fetch hands back: for each line that
// begins with "Set-Cookie:" in any letter case, the value up to its first
// ";" (or a stray CR or LF) with blanks trimmed, each followed by "; ".
Text internetCookiesOf(TextView rawHeaders);

// The value of the last line that begins with "Location: " (exactly so);
// empty when there is none.
Text locationHeaderOf(TextView rawHeaders);

// The cookies of `newCookies` followed by those of `oldCookies` whose names
// it does not mention; blanks removed, split at every ";" byte (whatever byte
// comes before it), cookies set to "deleted" and repeated items dropped,
// joined by "; ".
Text mergeCookies(TextView oldCookies, TextView newCookies);

// Whether a cookie text would end its header line early: it holds CR or LF.
bool breaksHeaderLine(TextView text);

}  // namespace qarvo
