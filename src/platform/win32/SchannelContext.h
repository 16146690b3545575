// The Windows TLS context: Schannel through SSPI. Included only by the Windows sources.
#pragma once

#include <memory>

#include "platform/TlsClient.h"
#include "platform/win32/SchannelCredentials.h"

namespace vantel {

class SchannelContext : public TlsContext {
  public:
    explicit SchannelContext(std::shared_ptr<SchannelCredentials> credentials)
        : credentials_(std::move(credentials)) {}

    std::unique_ptr<TlsClient> CreateClient(const TlsClientOptions& options) override;

  private:
    std::shared_ptr<SchannelCredentials> credentials_;
};

}  // namespace vantel
