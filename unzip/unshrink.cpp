#include "support/errors.h"
#include "unzip/unzip_helper.h"

namespace zipkit {

// Not built yet: the decoder lands with its own change.
void TAbUnzipHelper::Unshrink() { throw EAbZipInvalidMethod(); }

}  // namespace zipkit
