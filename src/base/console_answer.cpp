#include "base/console_answer.h"

#include "platform/interrupt.h"

// An interrupted run reads no more answers: a signal noted before the read, or one that
// breaks off a waiting read (the handlers do not restart it), reads as no answer.

char readAnswerKey(std::istream& in) {
    char key = '\0';
    if (interrupt::requested() || !(in >> key)) {
        return '\0';
    }
    return key;
}

bool readAnswerWord(std::string& word, std::istream& in) {
    std::string read;
    if (interrupt::requested() || !(in >> read)) {
        return false;
    }
    word = read;
    return true;
}
