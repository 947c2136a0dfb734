// The web root reader of db/path.txt: any content gives a root without line ends, or none.
#include "fuzzcheck.h"

#include "common/webroot.h"
#include "exchange/exchange.h"

using namespace tarv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto root = webRootFromContent(content);
    if (root) {
        FUZZ_CHECK(!root->isEmpty());
        FUZZ_CHECK(!root->contains(u'\n'));
        FUZZ_CHECK(!exchangeFile(*root, ExchangeFile::Queue).isEmpty());
    }
    return 0;
}
