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

// The header's value with its lines unfolded, or nothing when the header is missing.
std::optional<QByteArray> RawValue(GMimeHeaderList* headers, const char* name) {
    GMimeHeader* header = g_mime_header_list_get_header(headers, name);
    if (!header)
        return std::nullopt;
    const char* raw = g_mime_header_get_raw_value(header);
    return Taken(g_mime_utils_header_unfold(raw ? raw : ""));
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
    GMimeParserOptions* options = HeaderParserOptions();
    const GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(rawHeader.constData(), rawHeader.size()));
    const GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    const GObjectPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), options));
    if (!parsed)
        return message;
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(parsed.get()));
    if (const auto from = RawValue(headers, "From"))
        message.sender = DisplayText(DecodedSender(*from), kMaxSenderLength);
    if (const auto subject = RawValue(headers, "Subject"))
        message.subject = DisplayText(DecodedText(*subject), kMaxSubjectLength);
    if (const auto date = RawValue(headers, "Date"))
        message.date = DecodedDate(*date);
    if (const auto messageId = RawValue(headers, "Message-ID"))
        message.messageId = Taken(g_mime_utils_decode_message_id(messageId->constData()));
    return message;
}

} // namespace postlark
