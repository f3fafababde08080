#include "cli/console_answer.h"

char readAnswerKey(std::istream& in) {
    char key = '\0';
    if (!(in >> key)) {
        return '\0';
    }
    return key;
}

bool readAnswerWord(std::string& word, std::istream& in) {
    std::string read;
    if (!(in >> read)) {
        return false;
    }
    word = read;
    return true;
}
