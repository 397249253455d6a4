#include "boxcapture.h"

#include "main/uikit.h"

namespace dvtest {

BoxCapture::BoxCapture()
    : m_message(dv::BoxHooks::message), m_error(dv::BoxHooks::error), m_confirm(dv::BoxHooks::confirm)
{
    dv::BoxHooks::message = [this](const QString &t) { messages << t; };
    dv::BoxHooks::error = [this](const QString &t) { errors << t; };
}

BoxCapture::BoxCapture(bool answer) : BoxCapture()
{
    confirmAnswer = answer;
    dv::BoxHooks::confirm = [this](const QString &t) {
        confirms << t;
        return confirmAnswer;
    };
}

BoxCapture::~BoxCapture()
{
    dv::BoxHooks::message = m_message;
    dv::BoxHooks::error = m_error;
    dv::BoxHooks::confirm = m_confirm;
}

void BoxCapture::clear()
{
    messages.clear();
    errors.clear();
    confirms.clear();
}

} // namespace dvtest
