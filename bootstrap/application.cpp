#include "bootstrap/application.h"

#include "bootstrap/install_form.h"

namespace zipkit {

std::string ApplicationTitle(const std::string& ModulePath,
                             std::string (*LowerCase)(const std::string&)) {
  std::string title = FileNamePart(ModulePath);
  title = title.substr(0, title.find('.'));
  if (title.size() > 1) title = title.substr(0, 1) + LowerCase(title.substr(1));
  return title;
}

std::string ExceptionBoxText(const std::string& Message) {
  // Bytes compare as unsigned characters of the ANSI code page.
  if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') return Message + ".";
  return Message;
}

}  // namespace zipkit
