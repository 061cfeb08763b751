#pragma once
// A page's control by its object name: the pages keep their forms to themselves, and every control
// carries its layout name as its object name. A name the page does not have stops the test at
// once, naming it, rather than handing a null control to the assertion after.

#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <cstdlib>
#include <iostream>

namespace tarven::testing {

template <typename Control>
Control* Child(const QObject& page, const char* name) {
  auto* control = page.findChild<Control*>(QString::fromLatin1(name));
  if (control == nullptr) {
    std::cerr << "no control " << name << " on page " << page.metaObject()->className() << '\n';
    std::abort();
  }
  return control;
}

}  // namespace tarven::testing
