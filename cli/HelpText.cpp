#include "cli/HelpText.h"

#include <sstream>

namespace isp::cli {

std::string wrapped(const std::string& text, std::size_t width)
{
    std::string result;
    std::istringstream paragraphs(text);
    bool firstParagraph = true;
    for (std::string paragraph; std::getline(paragraphs, paragraph);) {
        if (!firstParagraph)
            result += '\n';
        firstParagraph = false;
        std::istringstream words(paragraph);
        std::size_t column = 0;
        for (std::string word; words >> word;) {
            if (column > 0 && column + 1 + word.size() > width) {
                result += '\n';
                column = 0;
            } else if (column > 0) {
                result += ' ';
                ++column;
            }
            result += word;
            column += word.size();
        }
    }
    if (!text.empty() && text.back() == '\n')
        result += '\n';
    return result;
}

} // namespace isp::cli
