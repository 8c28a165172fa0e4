// Dialog templates read from a program's resource script.
#ifndef ZAVIR_HOST_FAKE_RC_H
#define ZAVIR_HOST_FAKE_RC_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace fake {
namespace internal {

struct ControlTemplate {
    std::string text;  // a number as "#119" for image controls
    int id = 0;
    std::string className;
    DWORD style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    DWORD exStyle = 0;
};

struct DialogTemplate {
    int id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string caption;
    std::string fontName;
    int fontSize = 0;
    std::vector<ControlTemplate> controls;
};

// Parses the DIALOG / DIALOGEX resources of a script whose dialog bodies
// use CONTROL statements; names resolve through the resource header.
// Returns false (with a message) on anything it does not understand.
bool ParseResourceScript(const std::string& rcText, const std::string& headerText,
                         std::map<int, DialogTemplate>* dialogs, std::string* error);

}  // namespace internal
}  // namespace fake

#endif
