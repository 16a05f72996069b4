// What a reader or a request came to, one type for all of them.
#ifndef TARNLINK_OUTCOME_H
#define TARNLINK_OUTCOME_H

enum Outcome {
    // Not to be used as it stands: cut, of another type, or not answered.
    OUTCOME_UNUSABLE = -1,
    // Nothing there, or nothing done: absent, empty, refused.
    OUTCOME_NONE = 0,
    // Read whole, or made.
    OUTCOME_DONE = 1,
};

#endif
