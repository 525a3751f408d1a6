// The review rule's rows, generated at build time from data/review_rows.tsv into
// ReviewRowsData.cpp (data/gen_review_rows.py says which characters they hold and why).
//
// Row i: a character (two GBK bytes, or four GB18030 bytes outside GBK), its readings in that
// position joined by "/" (the one the table gives there first, then the others) and a reason of a
// few words (ASCII). A character may have a row for the given name and another for the surname
// position.
#pragma once

#include <cstdint>

#include "BuiltinTable.h"

namespace quorvel {

extern const int kReviewRowCount;
extern const char* const kReviewKeys[];
extern const char* const kReviewReadings[];
extern const char* const kReviewReasons[];
extern const uint16_t kGivenReviewOfGbk[kGbkSlots];    // row, or 0xFFFF
extern const uint16_t kSurnameReviewOfGbk[kGbkSlots];  // row, or 0xFFFF

// The rows of the four-byte characters, sorted by `code` (the four bytes, first byte highest).
struct FourByteReview {
  uint32_t code;
  uint16_t given, surname;  // row, or 0xFFFF
};
extern const int kFourByteReviewCount;
extern const FourByteReview kFourByteReviews[];

}  // namespace quorvel
