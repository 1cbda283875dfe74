#include "support/errors.h"
#include "unzip/unzip_helper.h"

namespace zipkit {

// Not built yet: the decoder lands with its own change.
void TAbUnzipHelper::Unreduce() { throw EAbZipInvalidMethod(); }

}  // namespace zipkit
