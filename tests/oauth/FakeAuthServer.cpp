#include "oauth/FakeAuthServer.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace vantel::test {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    const std::size_t end = text.find_last_not_of(" \t\r\n");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::string Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 302:
            return "Found";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string Get(const std::map<std::string, std::string>& form, const std::string& name) {
    const auto found = form.find(name);
    return found == form.end() ? std::string() : found->second;
}

}  // namespace

FakeAuthServer::FakeAuthServer(const TestPki& pki) : FakeAuthServer(pki, Options{}) {}

FakeAuthServer::FakeAuthServer(const TestPki& pki, Options options) : options_(std::move(options)) {
    TlsTestServerOptions serverOptions;
    serverOptions.implicitTls = options_.tls;
    server_ = std::make_unique<TlsTestServer>(
        pki.Issue({"localhost"}, {"127.0.0.1"}), [this](TlsTestConnection& c) { Serve(c); },
        serverOptions);
}

FakeAuthServer::~FakeAuthServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stopWake_.notify_all();
    server_.reset();
}

std::string FakeAuthServer::Url(const std::string& path) const {
    return std::string(options_.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port()) +
           path;
}

void FakeAuthServer::Script(const std::string& path, FakeAnswer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_[path].push_back(std::move(answer));
}

void FakeAuthServer::ScriptDevice(std::vector<std::string> results) {
    std::lock_guard<std::mutex> lock(mutex_);
    device_.assign(results.begin(), results.end());
}

void FakeAuthServer::RefuseAuthorization(const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    refusal_ = error;
}

std::vector<RecordedRequest> FakeAuthServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string FakeAuthServer::accessToken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return access_;
}

std::string FakeAuthServer::refreshToken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return refresh_;
}

int FakeAuthServer::issued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return issued_;
}

std::string FakeAuthServer::Base64Url(const std::string& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
    } else if (i + 2 == bytes.size()) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
    }
    return out;
}

std::string FakeAuthServer::S256(const std::string& verifier) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(verifier.data(), verifier.size(), digest, &size, EVP_sha256(), nullptr);
    return Base64Url(std::string(reinterpret_cast<char*>(digest), size));
}

std::string FakeAuthServer::UrlDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::map<std::string, std::string> FakeAuthServer::ParseForm(const std::string& text) {
    std::map<std::string, std::string> form;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find('&', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string pair = text.substr(begin, end - begin);
        if (!pair.empty()) {
            const std::size_t eq = pair.find('=');
            form[UrlDecode(pair.substr(0, eq))] =
                eq == std::string::npos ? std::string() : UrlDecode(pair.substr(eq + 1));
        }
        begin = end + 1;
    }
    return form;
}

void FakeAuthServer::Sleep(std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    stopWake_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_; });
}

FakeAuthServer::Answer FakeAuthServer::Error(int status, const std::string& error,
                                             const std::string& description) {
    Answer answer;
    answer.status = status;
    answer.body = "{\"error\":\"" + error + "\"" +
                  (description.empty() ? "" : ",\"error_description\":\"" + description + "\"") +
                  "}";
    return answer;
}

void FakeAuthServer::Serve(TlsTestConnection& connection) {
    RecordedRequest request;
    std::string line;
    if (!connection.ReadLine(line)) {
        return;
    }
    line = Trim(line);
    const std::size_t a = line.find(' ');
    const std::size_t b = line.rfind(' ');
    if (a == std::string::npos || b == a) {
        return;
    }
    request.method = line.substr(0, a);
    request.target = line.substr(a + 1, b - a - 1);
    request.path = request.target.substr(0, request.target.find('?'));
    while (connection.ReadLine(line) && line != "\r\n" && line != "\n") {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            request.headers[Lower(line.substr(0, colon))] = Trim(line.substr(colon + 1));
        }
    }
    const std::string length = Get(request.headers, "content-length");
    if (!length.empty() && !connection.ReadExactly(std::stoul(length), request.body)) {
        return;
    }
    const std::size_t query = request.target.find('?');
    request.form =
        request.method == "GET"
            ? ParseForm(query == std::string::npos ? "" : request.target.substr(query + 1))
            : ParseForm(request.body);

    Answer answer;
    FakeAnswer scripted;
    bool useScript = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        auto& queue = scripts_[request.path];
        if (!queue.empty()) {
            scripted = std::move(queue.front());
            queue.pop_front();
            useScript = true;
        } else {
            answer = Respond(request);
        }
    }
    bool truncated = false;
    if (useScript) {
        Sleep(scripted.delayMs);
        answer = Answer{scripted.status, scripted.body, scripted.headers, scripted.contentType};
        truncated = scripted.truncated;
    }
    const std::size_t announced = answer.body.size() + (truncated ? 100 : 0);
    connection.Write("HTTP/1.1 " + std::to_string(answer.status) + " " + Reason(answer.status) +
                     "\r\nContent-Type: " + answer.contentType +
                     "\r\nContent-Length: " + std::to_string(announced) +
                     "\r\nConnection: close\r\n" + answer.headers + "\r\n" + answer.body);
}

std::string FakeAuthServer::Authorize(const std::string& query) {
    std::lock_guard<std::mutex> lock(mutex_);
    return AuthorizeLocked(query);
}

std::string FakeAuthServer::AuthorizeLocked(const std::string& query) {
    const auto form = ParseForm(query);
    const std::string redirect = Get(form, "redirect_uri");
    const bool loopback = redirect.rfind("http://127.0.0.1:", 0) == 0 ||
                          redirect.rfind("http://localhost", 0) == 0 ||
                          redirect.rfind("http://[::1]:", 0) == 0;
    if (Get(form, "response_type") != "code" || Get(form, "client_id") != options_.clientId ||
        !loopback || Get(form, "code_challenge_method") != "S256" ||
        Get(form, "code_challenge").size() != 43 || Get(form, "state").empty()) {
        return "";
    }
    const std::string separator = redirect.find('?') == std::string::npos ? "?" : "&";
    const std::string state = Get(form, "state");
    if (!refusal_.empty()) {
        const std::string error = refusal_;
        refusal_.clear();
        return redirect + separator + "error=" + error + "&state=" + state;
    }
    const std::string code = "code-" + std::to_string(++counter_);
    codes_[code] = Grant{Get(form, "code_challenge"), redirect, Get(form, "client_id")};
    return redirect + separator + "code=" + code + "&state=" + state;
}

FakeAuthServer::Answer FakeAuthServer::Respond(const RecordedRequest& request) {
    if (request.method == "GET" && request.path == "/authorize") {
        const std::size_t query = request.target.find('?');
        const std::string location =
            AuthorizeLocked(query == std::string::npos ? "" : request.target.substr(query + 1));
        if (location.empty()) {
            Answer bad = Error(400, "invalid_request", "bad authorization request");
            return bad;
        }
        Answer found;
        found.status = 302;
        found.headers = "Location: " + location + "\r\n";
        found.contentType = "text/html";
        return found;
    }
    if (request.method != "POST") {
        return Error(404, "not_found", "");
    }
    if (request.path == "/token") {
        return Token(request.form);
    }
    if (request.path == "/devicecode") {
        if (Get(request.form, "client_id") != options_.clientId) {
            return Error(400, "invalid_client", "AADSTS700016: unknown application");
        }
        deviceCode_ = "device-" + std::to_string(++counter_);
        Answer answer;
        answer.body = "{\"device_code\":\"" + deviceCode_ +
                      "\",\"user_code\":\"ABCD-EFGH\",\"verification_uri\":\"https://127.0.0.1:" +
                      std::to_string(port()) + "/device\",\"expires_in\":900,\"interval\":" +
                      std::to_string(options_.deviceInterval) +
                      ",\"message\":\"To sign in, enter the code ABCD-EFGH.\"}";
        return answer;
    }
    if (request.path == "/introspect") {
        const bool active = !access_.empty() && Get(request.form, "token") == access_;
        Answer answer;
        answer.body = active ? "{\"active\":true,\"username\":\"" + options_.username + "\"}"
                             : "{\"active\":false}";
        return answer;
    }
    return Error(404, "not_found", "");
}

FakeAuthServer::Answer FakeAuthServer::Token(const std::map<std::string, std::string>& form) {
    if (Get(form, "client_id") != options_.clientId) {
        return Error(401, "invalid_client", "AADSTS700016: unknown application");
    }
    if (!options_.clientSecret.empty() && Get(form, "client_secret") != options_.clientSecret) {
        return Error(401, "invalid_client", "The client secret is wrong.");
    }
    const std::string grant = Get(form, "grant_type");
    if (grant == "authorization_code") {
        const auto found = codes_.find(Get(form, "code"));
        if (found == codes_.end()) {
            return Error(400, "invalid_grant",
                         "AADSTS70008: The provided authorization code has expired or was used.");
        }
        const Grant issued = found->second;
        codes_.erase(found);  // single use, whatever comes of it
        if (Get(form, "redirect_uri") != issued.redirectUri) {
            return Error(400, "invalid_grant", "AADSTS50011: The redirect URI does not match.");
        }
        if (S256(Get(form, "code_verifier")) != issued.challenge) {
            return Error(400, "invalid_grant", "AADSTS501481: The code_verifier does not match.");
        }
        return IssueTokens();
    }
    if (grant == "refresh_token") {
        const auto found = refreshValid_.find(Get(form, "refresh_token"));
        if (found == refreshValid_.end() || !found->second) {
            return Error(400, "invalid_grant",
                         "AADSTS70043: The refresh token has expired or is invalid.");
        }
        if (options_.revokeOldRefreshToken) {
            found->second = false;
        }
        return IssueTokens();
    }
    if (grant == "urn:ietf:params:oauth:grant-type:device_code") {
        if (deviceCode_.empty() || Get(form, "device_code") != deviceCode_) {
            return Error(400, "invalid_grant", "unknown device code");
        }
        std::string next = "success";
        if (!device_.empty()) {
            next = device_.front();
            device_.pop_front();
        }
        if (next != "success") {
            return Error(400, next, "");
        }
        deviceCode_.clear();
        return IssueTokens();
    }
    return Error(400, "unsupported_grant_type", "");
}

FakeAuthServer::Answer FakeAuthServer::IssueTokens() {
    ++issued_;
    access_ = "access-" + std::to_string(++counter_);
    refresh_ = "refresh-" + std::to_string(++counter_);
    refreshValid_[refresh_] = true;
    Answer answer;
    answer.body =
        "{\"token_type\":\"Bearer\",\"scope\":\"https://mail.example.test/ offline_access\","
        "\"expires_in\":" +
        std::to_string(options_.expiresIn) + ",\"access_token\":\"" + access_ +
        "\",\"refresh_token\":\"" + refresh_ + "\"}";
    return answer;
}

}  // namespace vantel::test
