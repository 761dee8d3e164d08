// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/HeaderDecoder.h"

#include "mail/arrivals/DisplayText.h"
#include "mail/arrivals/EncodedWords.h"
#include "mail/arrivals/GMimeSetup.h"

#include <gmime/gmime.h>

#include <memory>
#include <optional>

namespace postlark {

namespace {

struct ObjectUnref {
    void operator()(void* object) const { g_object_unref(object); }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, ObjectUnref>;

// Takes a string GMime allocated.
QByteArray Taken(char* text) {
    QByteArray result(text);
    g_free(text);
    return result;
}

// The four fields a notification uses, each unfolded (RFC 5322: a line that begins with a space
// or tab continues the field before it), the first of each name. Only these values go through
// GMime's decoders: building a whole message for four short fields cost most of the time.
struct HeaderFields {
    std::optional<QByteArray> from, subject, date, messageId;
};

HeaderFields ReadHeaderFields(const QByteArray& raw) {
    HeaderFields fields;
    std::optional<QByteArray>* current = nullptr;
    for (qsizetype at = 0; at < raw.size();) {
        qsizetype end = raw.indexOf('\n', at);
        if (end < 0)
            end = raw.size();
        QByteArray line = raw.mid(at, end - at);
        at = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break; // the end of the header
        if (line[0] == ' ' || line[0] == '\t') {
            if (current && *current)
                **current += line;
            continue;
        }
        current = nullptr;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        std::optional<QByteArray>* field = name == "from"         ? &fields.from
                                           : name == "subject"    ? &fields.subject
                                           : name == "date"       ? &fields.date
                                           : name == "message-id" ? &fields.messageId
                                                                  : nullptr;
        if (!field || *field)
            continue; // another field, or a second one of a name already read
        *field = line.mid(colon + 1);
        current = field;
    }
    // Blanks around a value are not part of it.
    for (auto* field : {&fields.from, &fields.subject, &fields.date, &fields.messageId})
        if (*field)
            **field = (*field)->trimmed();
    return fields;
}

// Unstructured text (the subject): the encoded words decoded, or as sent when one is broken.
QString DecodedText(const QByteArray& value) {
    const auto checked = CheckEncodedWords(value);
    if (!checked)
        return QString::fromUtf8(Raw8BitText(value));
    return QString::fromUtf8(
        Taken(g_mime_utils_header_decode_text(HeaderParserOptions(), checked->constData())));
}

// The name a mailbox or group is shown by: its display name, else its address (a group's
// first member's).
QString SenderName(InternetAddress* address, bool nameReadable) {
    const char* name = internet_address_get_name(address);
    if (nameReadable && name && *name)
        return QString::fromUtf8(name);
    if (INTERNET_ADDRESS_IS_MAILBOX(address))
        return QString::fromUtf8(
            internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
    InternetAddressList* members =
        internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address));
    if (members && internet_address_list_length(members) > 0)
        return SenderName(internet_address_list_get_address(members, 0), nameReadable);
    return name ? QString::fromUtf8(name) : QString();
}

// The first address of the From field; its plain text when no address can be read from it.
QString DecodedSender(const QByteArray& value) {
    const auto checked = CheckEncodedWords(value);
    InternetAddressList* list =
        internet_address_list_parse(HeaderParserOptions(), checked.value_or(value).constData());
    const GObjectPtr<InternetAddressList> owned(list);
    if (list && internet_address_list_length(list) > 0) {
        const QString name = SenderName(internet_address_list_get_address(list, 0), !!checked);
        if (!name.isEmpty())
            return name;
    }
    return DecodedText(value);
}

QDateTime DecodedDate(const QByteArray& value) {
    GDateTime* date = g_mime_utils_header_decode_date(value.constData());
    if (!date)
        return {};
    const QDateTime result = QDateTime::fromSecsSinceEpoch(
        g_date_time_to_unix(date), Qt::OffsetFromUTC,
        static_cast<int>(g_date_time_get_utc_offset(date) / G_TIME_SPAN_SECOND));
    g_date_time_unref(date);
    return result;
}

} // namespace

ArrivedMessage DecodeHeader(const QByteArray& id, const QByteArray& rawHeader) {
    ArrivedMessage message;
    message.id = id;
    const HeaderFields fields = ReadHeaderFields(rawHeader);
    if (fields.from)
        message.sender = DisplayText(DecodedSender(*fields.from), kMaxSenderLength);
    if (fields.subject)
        message.subject = DisplayText(DecodedText(*fields.subject), kMaxSubjectLength);
    if (fields.date)
        message.date = DecodedDate(*fields.date);
    if (fields.messageId)
        message.messageId = Taken(g_mime_utils_decode_message_id(fields.messageId->constData()));
    return message;
}

} // namespace postlark
