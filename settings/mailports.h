#pragma once

#include <QtGlobal>

// The standard ports of the protocols a profile can speak: POP3 110 and 995,
// IMAP 143 and 993. The second of each pair is TLS from the first byte
// (Security 2); STARTTLS starts on the plain port.
namespace MailPorts {
constexpr quint16 Pop3 = 110;
constexpr quint16 Pop3s = 995;
constexpr quint16 Imap = 143;
constexpr quint16 Imaps = 993;
} // namespace MailPorts

inline quint16 standardPort(int protocol, int security)
{
    const bool implicitTls = security == 2;
    if (protocol == 1)
        return implicitTls ? MailPorts::Imaps : MailPorts::Imap;
    return implicitTls ? MailPorts::Pop3s : MailPorts::Pop3;
}
