// Feeds arbitrary pages to the SMS client's reading of the gateway's answers
// and checks that an answer never asks for more than the state allows.

#include "smsclient.h"

#include "fuzzcheck.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size == 0)
        return 0;
    // Byte 0 picks the state the answer arrives in; the rest is the page.
    const auto state = SmsClient::State(data[0] % 4);
    QByteArray page(reinterpret_cast<const char*>(data + 1), int(size - 1));
    // Large pages are made by repeating the input, to reach past the read limit.
    if (data[0] & 0x80)
        page = page.repeated(SmsClient::ResponseReadLimit / qMax<qsizetype>(page.size(), 1) + 1);

    const SmsClient::NextRequest next = SmsClient::nextRequest(state, page);
    switch (next) {
    case SmsClient::NextRequest::Login:
        require(state == SmsClient::State::PageRequested);
        break;
    case SmsClient::NextRequest::Sms:
        require(state != SmsClient::State::SmsPosted);
        break;
    case SmsClient::NextRequest::None:
        break;
    }
    // Nothing past the read limit counts.
    require(SmsClient::nextRequest(state, page + QByteArrayLiteral("<form action=\"xsms.asp\"")) == next ||
            page.size() < SmsClient::ResponseReadLimit);
    return 0;
}
