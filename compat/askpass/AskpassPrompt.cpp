#include "AskpassPrompt.h"

using namespace Qt::StringLiterals;

namespace {

AskpassPrompt::Kind kindOf(const QString& text, QByteArrayView hint)
{
    if (hint == "confirm")
        return AskpassPrompt::Kind::Confirm;
    if (hint == "none")
        return AskpassPrompt::Kind::Notice;
    // ssh's questions about an unknown host key, or one that differs from the key of the
    // address, end "(yes/no/[fingerprint])?" or "(yes/no)?". ssh has no translations.
    if (text.contains("Are you sure you want to continue connecting (yes/no"_L1))
        return AskpassPrompt::Kind::HostKey;
    return AskpassPrompt::Kind::Secret;
}

} // namespace

AskpassPrompt::AskpassPrompt(QString text, QByteArrayView hint)
    : text_(std::move(text)), kind_(kindOf(text_, hint))
{}
