#include "platform/posix/CurlHttpClient.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <stdexcept>
#include <utility>

namespace vantel {

struct CurlHttpClient::Job {
    HttpRequest request;
    std::function<void(HttpResponse)> done;
};

struct CurlHttpClient::Shared {
    std::atomic<bool> closed{false};  // the client is gone: drop answers, cut transfers short
};

namespace {

/// What the transfer callbacks collect.
struct Transfer {
    std::string body;
    bool tooLong = false;
    std::uint32_t retryAfter = 0;
    const std::atomic<bool>* closed = nullptr;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (transfer.body.size() + n > HttpClient::kMaxBody) {
        transfer.tooLong = true;
        return 0;  // ends the transfer: a cut token would be worse than none
    }
    transfer.body.append(data, n);
    return n;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

/// Seconds of a Retry-After value; 0 for a date or anything else that is no number.
std::uint32_t ParseRetryAfter(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) {
        value.remove_suffix(1);
    }
    if (value.empty() || value.size() > 10) {
        return 0;
    }
    std::uint64_t seconds = 0;
    for (char c : value) {
        if (c < '0' || c > '9') {
            return 0;
        }
        seconds = seconds * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(seconds, UINT32_MAX));
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    const std::string_view line(data, n);
    if (StartsWithNoCase(line, "HTTP/")) {
        transfer.retryAfter = 0;  // a new answer (after 100 Continue): its own headers count
    } else if (StartsWithNoCase(line, "Retry-After:")) {
        transfer.retryAfter = ParseRetryAfter(line.substr(12));
    }
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& transfer = *static_cast<Transfer*>(user);
    return transfer.closed->load() ? 1 : 0;
}

bool IsLoopbackHost(std::string host) {
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (host == "localhost" || host == "[::1]") {
        return true;
    }
    in_addr v4{};
    return inet_pton(AF_INET, host.c_str(), &v4) == 1 &&
           (ntohl(v4.s_addr) >> 24) == 127;  // 127.0.0.0/8
}

/// The scheme and host of `url` as libcurl reads it, so that the check and the request agree.
bool SplitUrl(const std::string& url, std::string& scheme, std::string& host) {
    CURLU* parsed = curl_url();
    if (parsed == nullptr) {
        return false;
    }
    char* part = nullptr;
    bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    if (ok && curl_url_get(parsed, CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
        scheme = part;
        curl_free(part);
    } else {
        ok = false;
    }
    if (ok && curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        host = part;
        curl_free(part);
    } else {
        ok = false;
    }
    curl_url_cleanup(parsed);
    return ok;
}

std::string Seconds(std::uint32_t ms) {
    return std::to_string((ms + 999) / 1000) + " s";
}

}  // namespace

CurlHttpClient::CurlHttpClient(EventLoop& loop) : CurlHttpClient(loop, Options{}) {}

CurlHttpClient::CurlHttpClient(EventLoop& loop, Options options)
    : loop_(loop), options_(std::move(options)), shared_(std::make_shared<Shared>()) {
    // Counted by libcurl, so the destructor's cleanup pairs with it; before any thread runs.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        throw std::runtime_error("cannot start libcurl");
    }
    // The worker is born with every signal blocked, so that SIGTERM and SIGHUP go to the
    // thread that waits for them, however early the program makes this client.
    sigset_t all;
    sigset_t was;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &was);
    try {
        worker_ = std::thread(&CurlHttpClient::Work, this);
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &was, nullptr);
        curl_global_cleanup();
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &was, nullptr);
}

CurlHttpClient::~CurlHttpClient() {
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropped.swap(queue_);
    }
    shared_->closed = true;
    wake_.notify_all();
    worker_.join();
    curl_global_cleanup();
}

void CurlHttpClient::PostForm(HttpRequest request, std::function<void(HttpResponse)> done) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(Job{std::move(request), std::move(done)});
    }
    wake_.notify_one();
}

bool CurlHttpClient::Allowed(const std::string& url, std::string& why) {
    std::string scheme;
    std::string host;
    if (!SplitUrl(url, scheme, host)) {
        why = "the address " + url + " is not a valid URL";
        return false;
    }
    if (scheme == "https" || (scheme == "http" && IsLoopbackHost(host))) {
        return true;
    }
    why = scheme == "http" ? "the address " + url +
                                 " is not encrypted (http://); only https:// is used, except "
                                 "to this computer"
                           : "the address " + url + " is not an https:// address";
    return false;
}

void CurlHttpClient::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        Job job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        HttpResponse response;
        try {
            response = Perform(job.request);
        } catch (const std::exception& e) {
            response = HttpResponse{};
            response.error = std::string("the request failed: ") + e.what();
        }
        std::shared_ptr<Shared> shared = shared_;
        // Posted before the destructor can join, so the loop is still there; the answer is
        // dropped on the loop if the client is gone by the time it runs.
        loop_.Post([shared, done = std::move(job.done), response = std::move(response)]() mutable {
            if (!shared->closed) {
                done(std::move(response));
            }
        });
        lock.lock();
    }
}

HttpResponse CurlHttpClient::Perform(const HttpRequest& request) {
    HttpResponse response;
    if (!Allowed(request.url, response.error)) {
        return response;
    }
    std::string scheme;
    std::string host;
    SplitUrl(request.url, scheme, host);

    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        response.error = "cannot start a request (out of memory)";
        return response;
    }
    Transfer transfer;
    transfer.closed = &shared_->closed;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Accept: application/json");
    headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
    headers = curl_slist_append(headers, "Expect:");  // no 100-continue round trip

    const std::uint32_t timeoutMs = std::max<std::uint32_t>(request.timeoutMs, 1);
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::min(timeoutMs, options_.connectTimeoutMs)));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options_.caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, options_.caFile.c_str());
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    if (IsLoopbackHost(host)) {
        // No proxy can reach this computer's own services; elsewhere curl follows
        // https_proxy and no_proxy from the environment.
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    }
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.form.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.form.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Vantel");
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBody));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);

    const std::string detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
    switch (result) {
        case CURLE_OK:
            response.status = static_cast<int>(status);
            response.body = std::move(transfer.body);
            response.retryAfterSeconds = transfer.retryAfter;
            return response;
        case CURLE_FILESIZE_EXCEEDED:
            transfer.tooLong = true;
            break;
        case CURLE_WRITE_ERROR:
            break;
        case CURLE_OPERATION_TIMEDOUT:
            response.error = "no answer from " + host + " within " + Seconds(timeoutMs);
            return response;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            response.error = "the certificate of " + host + " is not trusted: " + detail;
            return response;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            response.error = "cannot find " + host + ": " + detail;
            return response;
        case CURLE_COULDNT_CONNECT:
            response.error = "cannot connect to " + host + ": " + detail;
            return response;
        case CURLE_ABORTED_BY_CALLBACK:
            response.error = "the request to " + host + " was cancelled";
            return response;
        default:
            break;
    }
    if (transfer.tooLong) {
        response.error = "the answer from " + host + " is longer than " +
                         std::to_string(kMaxBody / 1024) + " KiB";
    } else {
        response.error = "the request to " + host + " failed: " + detail;
    }
    return response;
}

}  // namespace vantel
