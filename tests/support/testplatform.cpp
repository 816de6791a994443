// The store of captured message boxes, shared by both builds' hooks.
#include "support/testplatform.h"

#include <mutex>

namespace {
std::mutex lockBoxes;
std::vector<CapturedBox> boxes;
}

void RecordMessage(const char *caption, const char *text)
{
    std::lock_guard<std::mutex> hold(lockBoxes);
    boxes.push_back({caption ? caption : "", text ? text : ""});
}

void ClearMessages()
{
    std::lock_guard<std::mutex> hold(lockBoxes);
    boxes.clear();
}

std::vector<CapturedBox> CapturedMessages()
{
    std::lock_guard<std::mutex> hold(lockBoxes);
    return boxes;
}

std::vector<std::string> CapturedTexts()
{
    std::vector<std::string> texts;
    for (const CapturedBox &box : CapturedMessages())
        texts.push_back(box.text);
    return texts;
}
