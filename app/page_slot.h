#pragma once
// A page of the page control that is built when it is first needed. The page control shows the
// page's tab from the start, over an empty stand-in page from the window's layout; the page object
// is built into that stand-in on first use. The only way to the page is Get(), which builds it, so
// no caller can meet a page that does not exist yet; IfBuilt() visits a page only if it exists,
// for the few callers (shut-down) that must not build one.

#include <QWidget>
#include <functional>
#include <utility>

#include "app/page_services.h"

namespace tarven::app {

// What every slot can do without knowing its page's type: build the page, tell whether it has,
// name the stand-in page of the page control it is built into, and pass the module's state on.
class AnyPageSlot {
 public:
  AnyPageSlot() = default;
  AnyPageSlot(const AnyPageSlot&) = delete;
  AnyPageSlot& operator=(const AnyPageSlot&) = delete;
  virtual ~AnyPageSlot() = default;

  virtual QWidget& Build() = 0;
  virtual bool built() const = 0;
  virtual const QWidget& stand_in() const = 0;
  // Tells a built page the module's state, if the page has controls that follow it.
  virtual void ShowModuleState(const ModuleState& state) = 0;
};

// Puts a built page into its stand-in so that it covers it whole.
void PlacePage(QWidget& stand_in, QWidget& page);

// The layout builds each page on its own and then puts it into the page control, and the toolkit
// tells every control on a page that its font changed when the page moves in. A drop-down list
// answers by building its whole pop-up list at once; nine of them were a good part of the time the
// window took to open. Each pop-up is built when it is first opened and takes its box's font then,
// so while a layout is being built the notice is held back from the drop-down lists.
class HoldBackComboFontChanges final : public QObject {
 public:
  HoldBackComboFontChanges();
  ~HoldBackComboFontChanges() override;
  HoldBackComboFontChanges(const HoldBackComboFontChanges&) = delete;
  HoldBackComboFontChanges& operator=(const HoldBackComboFontChanges&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

template <typename Page>
class PageSlot final : public AnyPageSlot {
 public:
  // `build` makes the page as a child of the stand-in; `on_built` runs once it is in place.
  using Builder = std::function<Page*(QWidget& stand_in)>;
  using OnBuilt = std::function<void(AnyPageSlot& slot)>;

  PageSlot(QWidget& stand_in, Builder build, OnBuilt on_built)
      : stand_in_(stand_in), build_(std::move(build)), on_built_(std::move(on_built)) {}

  Page& Get() {
    if (page_ == nullptr) {
      {
        const HoldBackComboFontChanges hold_back;
        page_ = build_(stand_in_);
      }
      PlacePage(stand_in_, *page_);
      if (on_built_) on_built_(*this);
    }
    return *page_;
  }

  template <typename Visit>
  void IfBuilt(Visit&& visit) {
    if (page_ != nullptr) std::forward<Visit>(visit)(*page_);
  }

  QWidget& Build() override { return Get(); }
  bool built() const override { return page_ != nullptr; }
  const QWidget& stand_in() const override { return stand_in_; }
  void ShowModuleState(const ModuleState& state) override {
    if constexpr (requires(Page & page) { page.ShowModuleState(state); }) {
      if (page_ != nullptr) page_->ShowModuleState(state);
    }
  }

 private:
  QWidget& stand_in_;
  Builder build_;
  OnBuilt on_built_;
  // Owned by the stand-in, as every control is owned by its parent.
  Page* page_ = nullptr;
};

}  // namespace tarven::app
