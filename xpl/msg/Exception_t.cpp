#include "QmXpl/Message_t.h"

namespace QmXplMsg {

Exception_t::Exception_t(const Message_t& message) : messages_(message) { Render(); }
Exception_t::Exception_t(const MessageList_t& messages) : messages_(messages) { Render(); }
Exception_t::Exception_t(const Exception_t&) = default;
Exception_t& Exception_t::operator=(const Exception_t&) = default;
Exception_t::~Exception_t() = default;

void Exception_t::AddMessage(const Message_t& message) {
    messages_.Add(message);
    Render();
}

void Exception_t::Render() { what_ = messages_.Format(kFormatNumber | kFormatDetails).ToUtf8(); }

const char* Exception_t::what() const noexcept { return what_.c_str(); }

}  // namespace QmXplMsg
