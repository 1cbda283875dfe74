#include "support/errors.h"
#include "unzip/unzip_helper.h"

namespace zipkit {

// Not wired to the decompressor yet.
void TAbUnzipHelper::Unshrink() { throw EAbZipInvalidMethod(); }
void TAbUnzipHelper::Unreduce() { throw EAbZipInvalidMethod(); }
void TAbUnzipHelper::Explode() { throw EAbZipInvalidMethod(); }

}  // namespace zipkit
