#include "platform/ImapSession.h"

#include "platform/ImapSessionState.h"
#include "platform/ImapTransport.h"

#include <libetpan/libetpan.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tarnwick {

namespace {

std::string upper(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

// What mailimap_list hands out, also when the server refused the LIST: freed here.
struct ListResult {
    clist* list = nullptr;
    ListResult() = default;
    ListResult(const ListResult&) = delete;
    ListResult& operator=(const ListResult&) = delete;
    ~ListResult()
    {
        if (list)
            mailimap_list_result_free(list);
    }
};

struct FlagListDeleter {
    void operator()(mailimap_flag_list* list) const { mailimap_flag_list_free(list); }
};

mailimap_flag* keywordFlag(const std::string& keyword)
{
    char* copy = strdup(keyword.c_str());
    mailimap_flag* flag = mailimap_flag_new_flag_keyword(copy);
    if (!flag)
        free(copy);
    return flag;
}

std::unique_ptr<mailimap_flag_list, FlagListDeleter> flagList(const ImapFlags& flags)
{
    std::unique_ptr<mailimap_flag_list, FlagListDeleter> list(mailimap_flag_list_new_empty());
    auto add = [&](mailimap_flag* flag) {
        if (flag && mailimap_flag_list_add(list.get(), flag) != MAILIMAP_NO_ERROR)
            mailimap_flag_free(flag);
    };
    if (flags.seen)
        add(mailimap_flag_new_seen());
    if (flags.answered)
        add(mailimap_flag_new_answered());
    if (flags.flagged)
        add(mailimap_flag_new_flagged());
    if (flags.draft)
        add(mailimap_flag_new_draft());
    if (flags.forwarded)
        add(keywordFlag("$Forwarded"));
    for (const std::string& keyword : flags.keywords)
        add(keywordFlag(keyword));
    return list;
}

} // namespace

ImapFailure classifyServerRefusal(std::string_view line)
{
    const std::string text = upper(line);
    if (contains(text, "[AUTHENTICATIONFAILED]") || contains(text, "[AUTHORIZATIONFAILED]"))
        return ImapFailure::Login;
    if (contains(text, "[OVERQUOTA]"))
        return ImapFailure::Quota;
    for (std::string_view size :
         {"[TOOBIG]", "TOO LARGE", "TOO BIG", "LARGER THAN", "MESSAGE SIZE", "MAIL SIZE", "SIZE LIMIT", "MAXIMUM SIZE"}) {
        if (contains(text, size))
            return ImapFailure::TooBig;
    }
    for (std::string_view limit : {"QUOTA", "[LIMIT]", "TOO MANY", "RATE LIMIT", "LIMIT EXCEEDED", "TRY AGAIN LATER"}) {
        if (contains(text, limit))
            return ImapFailure::Quota;
    }
    return ImapFailure::Refused;
}

ImapSession::ImapSession() : state_(std::make_unique<State>()) {}
ImapSession::~ImapSession() = default;

bool ImapSession::isOpen() const { return state_->imap != nullptr; }

void ImapSession::close()
{
    if (state_->imap && state_->transport && state_->transport->error().empty())
        mailimap_logout(state_->imap);
    state_->reset();
}

ImapResult ImapSession::open(const ImapAccount& account)
{
    close();
    state_->host = account.host;
    if (ImapResult result = connectSecured(account); !result.ok())
        return result;
    return logIn(account);
}

ImapResult ImapSession::openOverSocket(int fd, const ImapAccount& account)
{
    close();
    state_->host = account.host;
    if (ImapResult result = greet(ImapTransport::adopt(fd, account.host, account.timeoutSeconds)); !result.ok())
        return result;
    return logIn(account);
}

ImapResult ImapSession::logIn(const ImapAccount& account)
{
    const int r = mailimap_login(state_->imap, account.user.c_str(), account.password.c_str());
    if (r != MAILIMAP_NO_ERROR) {
        ImapResult result = state_->failure(r, account.host + " did not accept the login of " + account.user);
        state_->reset();
        return result;
    }
    readCapabilities();
    return readDelimiter();
}

ImapResult ImapSession::connectSecured(const ImapAccount& account)
{
    TransportResult connected
        = ImapTransport::connect(account.host, account.port, account.timeoutSeconds, account.security == ImapSecurity::Plain);
    if (!connected.transport)
        return {connected.certificateProblem ? ImapFailure::Certificate : ImapFailure::Connection, connected.error};
    ImapTransport* transport = connected.transport.get();
    if (account.security == ImapSecurity::Tls) {
        TransportResult secured = transport->startTls(account.host, account.extraCaFile);
        if (!secured.error.empty())
            return {secured.certificateProblem ? ImapFailure::Certificate : ImapFailure::Connection, secured.error};
    }
    if (ImapResult result = greet(std::move(connected.transport)); !result.ok() || account.security != ImapSecurity::StartTls)
        return result;
    const int r = mailimap_starttls(state_->imap);
    if (r != MAILIMAP_NO_ERROR) {
        ImapResult result = state_->failure(r, account.host + " refused STARTTLS");
        state_->reset();
        return result;
    }
    TransportResult secured = transport->startTls(account.host, account.extraCaFile);
    if (!secured.error.empty()) {
        state_->reset();
        return {secured.certificateProblem ? ImapFailure::Certificate : ImapFailure::Connection, secured.error};
    }
    // Capabilities seen before STARTTLS no longer count.
    if (state_->imap->imap_connection_info && state_->imap->imap_connection_info->imap_capability) {
        mailimap_capability_data_free(state_->imap->imap_connection_info->imap_capability);
        state_->imap->imap_connection_info->imap_capability = nullptr;
    }
    return {};
}

ImapResult ImapSession::greet(std::unique_ptr<ImapTransport> transport)
{
    ImapTransport* kept = transport.get();
    mailstream* stream = mailstream_new(ImapTransport::release(std::move(transport)), 8192);
    if (!stream)
        return {ImapFailure::Protocol, "Could not set up the connection to " + state_->host};
    state_->imap = mailimap_new(0, nullptr);
    state_->transport = kept;
    const int r = mailimap_connect(state_->imap, stream);
    if (r != MAILIMAP_NO_ERROR_NON_AUTHENTICATED && r != MAILIMAP_NO_ERROR_AUTHENTICATED) {
        if (!state_->imap->imap_stream)
            mailstream_close(stream);
        ImapResult result = state_->failure(r, "Could not connect to " + state_->host);
        state_->reset();
        return result;
    }
    return {};
}

ImapResult ImapSession::readDelimiter()
{
    delimiter_ = 0;
    ListResult listed;
    const int r = mailimap_list(state_->imap, "", "", &listed.list);
    if (r != MAILIMAP_NO_ERROR) {
        ImapResult result = state_->failure(r, "Could not list the folders of " + state_->host);
        state_->reset();
        return result;
    }
    if (listed.list && clist_begin(listed.list))
        delimiter_ = static_cast<mailimap_mailbox_list*>(clist_content(clist_begin(listed.list)))->mb_delimiter;
    return {};
}

ImapResult ImapSession::folderExists(const std::string& name, bool& exists)
{
    exists = false;
    if (!state_->imap)
        return {ImapFailure::Connection, "Not connected"};
    ListResult listed;
    const int r = mailimap_list(state_->imap, "", name.c_str(), &listed.list);
    if (r != MAILIMAP_NO_ERROR)
        return state_->failure(r, "Could not look for the folder \"" + name + "\"");
    for (clistiter* it = listed.list ? clist_begin(listed.list) : nullptr; it; it = clist_next(it)) {
        auto* entry = static_cast<mailimap_mailbox_list*>(clist_content(it));
        // LIST takes * and % as wildcards: only the exact name counts.
        if (entry->mb_name && (name == entry->mb_name || (upper(name) == "INBOX" && upper(entry->mb_name) == "INBOX")))
            exists = true;
    }
    return {};
}

ImapResult ImapSession::createFolder(const std::string& name)
{
    if (!state_->imap)
        return {ImapFailure::Connection, "Not connected"};
    const int r = mailimap_create(state_->imap, name.c_str());
    if (r != MAILIMAP_NO_ERROR) {
        const std::string line = state_->transport ? upper(state_->transport->lastLine()) : std::string();
        if (line.find("[ALREADYEXISTS]") != std::string::npos)
            return {};
        return state_->failure(r, "Could not create the folder \"" + name + "\"");
    }
    return {};
}

ImapResult ImapSession::append(const std::string& folder, std::string_view message, const ImapFlags& flags, std::time_t internalDate)
{
    if (!state_->imap)
        return {ImapFailure::Connection, "Not connected"};
    std::tm utc{};
    gmtime_r(&internalDate, &utc);
    mailimap_date_time* date
        = mailimap_date_time_new(utc.tm_mday, utc.tm_mon + 1, utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec, 0);
    auto list = flagList(flags);
    const int r = mailimap_append(state_->imap, folder.c_str(), list.get(), date, message.data(), message.size());
    mailimap_date_time_free(date);
    if (r != MAILIMAP_NO_ERROR)
        return state_->failure(r, "Could not upload to \"" + folder + "\"");
    return {};
}

ImapResult ImapSession::containsMessage(const std::string& folder, std::uint64_t size, const std::string& messageId, bool& found)
{
    found = false;
    if (!state_->imap)
        return {ImapFailure::Connection, "Not connected"};
    int r = mailimap_examine(state_->imap, folder.c_str());
    if (r != MAILIMAP_NO_ERROR)
        return state_->failure(r, "Could not open the folder \"" + folder + "\"");
    mailimap_search_key* keys = mailimap_search_key_new_multiple_empty();
    const auto bounded = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFEu));
    mailimap_search_key_multiple_add(keys, mailimap_search_key_new_larger(bounded > 0 ? bounded - 1 : 0));
    mailimap_search_key_multiple_add(keys, mailimap_search_key_new_smaller(bounded + 1));
    if (!messageId.empty())
        mailimap_search_key_multiple_add(keys, mailimap_search_key_new_header(strdup("Message-ID"), strdup(messageId.c_str())));
    clist* uids = nullptr;
    r = mailimap_uid_search(state_->imap, nullptr, keys, &uids);
    mailimap_search_key_free(keys);
    found = r == MAILIMAP_NO_ERROR && uids && clist_begin(uids) != nullptr;
    if (uids)
        mailimap_search_result_free(uids); // handed out also when the server refused the SEARCH
    if (r != MAILIMAP_NO_ERROR)
        return state_->failure(r, "Could not search the folder \"" + folder + "\"");
    return {};
}

} // namespace tarnwick
