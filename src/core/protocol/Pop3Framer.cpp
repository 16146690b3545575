#include "core/protocol/Pop3Framer.h"

#include "core/rewrite/MessageRewriter.h"

namespace vantel {

void Pop3Framer::FromClient(std::string_view block, std::string& toServer, std::string&) {
    toServer.append(rewriter_.ProcessPop3ClientBlock(block, client_, entry_));
    client_.inBody = false;
    server_.inBody = false;
}

void Pop3Framer::FromServer(std::string_view block, std::string& toClient, std::string&) {
    toClient.append(rewriter_.ProcessMessageBlock(block, server_, KludgeType::Pop3Kludge));
}

void Pop3Framer::ClientEnded(std::string& toServer) {
    toServer.append(MessageRewriter::FlushStream(client_));
}

void Pop3Framer::ServerEnded(std::string& toClient) {
    toClient.append(MessageRewriter::FlushStream(server_));
}

}  // namespace vantel
