// The forms of a name beyond the ten layouts, built from its parts (NameParts): the surname and
// the given name apart, initials as medical and science indexes print them ("Liu DH",
// "Ouyang X") and the form of author-date reference lists ("Liu, D.-H.").
//
// Parts are readings in GBK, as the romanization gives them; a reading is capitalised as the
// layouts do it (its first letter, if a lower-case ASCII letter) and an initial is a reading's
// first character, upper-cased. A missing reading ("???") gives "?" as its initial.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "NameRomanizer.h"

namespace quorvel {

// The main name's form: the options' layout, or one of the two index forms.
enum class NameStyle { kLayout, kInitials, kCitation };

// "initials" or "citation"; nullopt for anything else.
std::optional<NameStyle> NameStyleNamed(std::string_view name);

void AppendSurname(std::string& out, const NameParts& parts);                         // Liu
void AppendGivenName(std::string& out, const NameParts& parts, Separator separator);  // De-hua
void AppendInitials(std::string& out, const NameParts& parts);                        // Liu DH
// Liu, D.-H.; with the space separator Liu, D. H.
void AppendCitation(std::string& out, const NameParts& parts, Separator separator);

// One name line (GBK) in `style` through `converter`, whose options give the layout and the
// separator; `parts` is scratch space kept between calls.
void AppendNameInStyle(std::string& out, NameConverter& converter, NameParts& parts,
                       std::string_view line, NameStyle style, Separator separator);

}  // namespace quorvel
