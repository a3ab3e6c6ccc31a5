#include "phone/PhoneRequests.h"

#include <QRandomGenerator>

#include <algorithm>
#include <utility>

#include "platform/TextEncoding.h"

namespace vozaro::stage {

PhoneRequests::PhoneRequests(SongSnapshots& songs, RequestQueue& queue, std::function<void()> queueChanged,
                             std::function<std::int64_t()> clockMs)
    : songs_(&songs), queue_(&queue), queueChanged_(std::move(queueChanged)), clockMs_(std::move(clockMs)) {}

QString PhoneRequests::drawCode() {
    return QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(1000000), kCodeDigits, 10, QLatin1Char('0'));
}

std::optional<QString> PhoneRequests::checkedName(const QString& name) {
    const QString trimmed = name.trimmed();
    if (trimmed.size() > kMaxNameLength)
        return std::nullopt;
    for (QChar c : trimmed) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format || c.isSurrogate())
            return std::nullopt;
    }
    if (!platform::utf8ToWindows1252(trimmed.toStdString()))
        return std::nullopt;
    return trimmed;
}

bool PhoneRequests::madeBy(const Request& request, const QString& client) {
    return request.source == RequestSource::Phone && request.phone == client;
}

int PhoneRequests::waitingOf(const QString& client) const {
    return static_cast<int>(std::count_if(queue_->requests().begin(), queue_->requests().end(),
                                          [&](const Request& r) { return madeBy(r, client); }));
}

bool PhoneRequests::cancel(std::uint64_t id, const QString& client) {
    const int row = queue_->rowOf(id);
    if (!accepting_ || row < 0 || !madeBy(queue_->requests()[row], client))
        return false;
    queue_->removeAt(row);
    if (queueChanged_)
        queueChanged_();
    return true;
}

PhoneRequests::Outcome PhoneRequests::request(std::int32_t numero, const QString& singer, const QString& code,
                                              const QString& client) {
    if (!accepting_)
        return {Result::Off};
    const std::int64_t now = clockMs_();
    // Addresses that have waited out their interval need not be kept.
    if (lastTry_.size() > kForgetAfter) {
        for (auto it = lastTry_.begin(); it != lastTry_.end();)
            it = now - it.value() >= kIntervalMs ? lastTry_.erase(it) : std::next(it);
    }
    const auto last = lastTry_.constFind(client);
    const bool tooSoon = last != lastTry_.constEnd() && now - last.value() < kIntervalMs;
    if (code_.isEmpty() || code != code_) {
        if (tooSoon)
            return {Result::TooMany};
        lastTry_.insert(client, now);
        return {Result::WrongCode};
    }
    const std::optional<QString> name = checkedName(singer);
    if (!name)
        return {Result::BadName};
    const std::shared_ptr<const SongIndex> songs = songs_->current();
    const IndexedSong* song = songs->byNumber(numero);
    if (!song)
        return {Result::NoSuchSong};
    while (!lastMinute_.empty() && now - lastMinute_.front() >= 60000)
        lastMinute_.pop_front();
    if (tooSoon || static_cast<int>(lastMinute_.size()) >= kMaxPerMinute || queue_->count() >= kMaxQueue ||
        waitingOf(client) >= kMaxWaitingPerClient)
        return {Result::TooMany};

    const TRegistroAlbum entry{std::string(song->interprete), std::string(song->musica), std::string(), song->numero};
    const std::uint64_t id = queue_->append(requestFor(entry, song->position, *name, RequestSource::Phone, client)).id;
    lastTry_.insert(client, now);
    lastMinute_.push_back(now);
    if (queueChanged_)
        queueChanged_();
    return {Result::Accepted, queue_->rowOf(id) + 1};
}

}  // namespace vozaro::stage
