// Resource identifiers: order, case-folded comparison, text for messages.
#include "ResourceId.h"

#include <cstdio>

namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

}  // namespace

ResourceId ResourceId::Number(uint16_t number)
{
    ResourceId id;
    id.number_ = number;
    return id;
}

ResourceId ResourceId::Name(std::u16string name)
{
    ResourceId id;
    id.isName_ = true;
    id.name_ = std::move(name);
    return id;
}

ResourceId ResourceId::AsciiName(const char* name)
{
    std::u16string units;
    for (const char* p = name; *p != '\0'; ++p)
        units += static_cast<char16_t>(static_cast<unsigned char>(*p));
    return Name(std::move(units));
}

bool ResourceId::operator<(const ResourceId& other) const
{
    if (isName_ != other.isName_)
        return isName_;
    return isName_ ? name_ < other.name_ : number_ < other.number_;
}

bool ResourceId::operator==(const ResourceId& other) const
{
    return isName_ == other.isName_ && (isName_ ? name_ == other.name_ : number_ == other.number_);
}

bool ResourceId::SameIgnoringCase(const ResourceId& other) const
{
    if (isName_ != other.isName_)
        return false;
    if (!isName_)
        return number_ == other.number_;
    if (name_.size() != other.name_.size())
        return false;
    for (size_t i = 0; i < name_.size(); ++i) {
        if (FoldAscii(name_[i]) != FoldAscii(other.name_[i]))
            return false;
    }
    return true;
}

std::string ResourceId::Describe() const
{
    if (!isName_)
        return "#" + std::to_string(number_);
    std::string text;
    for (char16_t c : name_) {
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            text += escaped;
        }
    }
    return text;
}
