// The Schannel backend of the TLS seam. Not built yet: every TLS location fails with a clear error.
#include "net/tls.h"

namespace skelder::net {

std::unique_ptr<TTlsChannel> NewTlsClient(const TTlsClientSettings& /*settings*/) {
  throw ETlsError("TLS is not available in this build");
}

std::shared_ptr<TTlsSessionCache> NewTlsSessionCache() { return std::make_shared<TTlsSessionCache>(); }

}  // namespace skelder::net
