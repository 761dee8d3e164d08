// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/GMimeSetup.h"

#include <gmime/gmime.h>

namespace postlark {

GMimeParserOptions* HeaderParserOptions() {
    static GMimeParserOptions* const options = [] {
        g_mime_init();
        GMimeParserOptions* made = g_mime_parser_options_new();
        const char* charsets[] = {"UTF-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(made, charsets);
        g_mime_parser_options_set_rfc2047_compliance_mode(made, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(made, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_allow_addresses_without_domain(made, TRUE);
        return made;
    }();
    return options;
}

QByteArray Raw8BitText(const QByteArray& text) {
    char* decoded = g_mime_utils_decode_8bit(HeaderParserOptions(), text.constData(),
                                             static_cast<size_t>(text.size()));
    QByteArray result(decoded);
    g_free(decoded);
    return result;
}

} // namespace postlark
