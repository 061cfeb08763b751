#pragma once
// What a page of the window works with: the module link and the dialogs. Both belong to the
// window and outlive its pages. A page's questions and messages are the window's own boxes.

namespace tarven::device {
class Link;
}

namespace tarven::app {

class Dialogs;

struct PageServices {
  device::Link& link;
  Dialogs& dialogs;
};

}  // namespace tarven::app
