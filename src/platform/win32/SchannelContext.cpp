#include "platform/win32/SchannelContext.h"

#include "platform/win32/SchannelClient.h"

namespace vantel {

std::unique_ptr<TlsClient> SchannelContext::CreateClient(const TlsClientOptions& options) {
    return std::make_unique<SchannelClient>(credentials_, options);
}

std::unique_ptr<TlsContext> CreateTlsContext(const TlsContextOptions& options, std::string& error) {
    std::shared_ptr<SchannelCredentials> credentials =
        SchannelCredentials::Create(options.exclusiveRootsPem, error);
    if (!credentials) {
        return nullptr;
    }
    return std::make_unique<SchannelContext>(std::move(credentials));
}

}  // namespace vantel
