#pragma once
// Menus: a tree of TMenuItem under a TMainMenu that a form shows as its menu
// bar.  A caption "-" is a separator line; "&" marks the accelerator letter
// ("&&" is a literal ampersand).  Items are components (normally owned by the
// form) and are linked into the tree by Add/Insert; freeing an item takes it
// out of the tree.

#include <vector>

#include "runtime/Classes.h"
#include "runtime/Exceptions.h"

KURS_RUNTIME_EXCEPTION(EMenuError, Exception);

class TMenu;

class TMenuItem : public TComponent {
  public:
    explicit TMenuItem(TComponent* AOwner);
    ~TMenuItem() override;
    String ClassName() const override { return "TMenuItem"; }

    const String& Caption() const { return FCaption; }
    void SetCaption(const String& value);
    bool Checked() const { return FChecked; }
    void SetChecked(bool value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool value);
    bool IsLine() const { return FCaption == "-"; }
    // The command number the menu bar reports a choice of this item with.
    unsigned Command() const { return FCommand; }

    int Count() const { return static_cast<int>(FItems.size()); }
    TMenuItem* Items(int index) const;
    TMenuItem* operator[](int index) const { return Items(index); }
    TMenuItem* Parent() const { return FParent; }
    int IndexOf(const TMenuItem* item) const;
    void Add(TMenuItem* item);
    void Insert(int index, TMenuItem* item);
    void Remove(TMenuItem* item);
    void Delete(int index) { Remove(Items(index)); }
    // The item (this one or below) with that command number, or nullptr.
    TMenuItem* Find(unsigned command);
    // The menu the tree belongs to, or nullptr.
    TMenu* GetParentMenu() const;

    // Fires OnClick (when enabled).
    virtual void Click();
    TNotifyEvent OnClick;

  private:
    friend class TMenu;
    void Changed();

    String FCaption;
    bool FChecked = false;
    bool FEnabled = true;
    bool FVisible = true;
    unsigned FCommand;
    TMenuItem* FParent = nullptr;
    TMenu* FMenu = nullptr;  // set on a menu's root item only
    std::vector<TMenuItem*> FItems;
};

class TMenu : public TComponent {
  public:
    explicit TMenu(TComponent* AOwner);
    ~TMenu() override;
    String ClassName() const override { return "TMenu"; }

    // The invisible root whose children are the top-level items.
    TMenuItem* Items() const { return FItems; }
    TMenuItem* FindItem(unsigned command) const { return FItems->Find(command); }

    // Told whenever an item of the tree changes (caption, check mark,
    // enabling, visibility, structure).
    TNotifyEvent OnChange;

  private:
    friend class TMenuItem;
    friend class TCustomForm;
    void MenuChanged();

    TMenuItem* FItems;
    // The form showing the menu, told of every change.
    std::function<void()> FFormHook;
};

class TMainMenu : public TMenu {
  public:
    using TMenu::TMenu;
    String ClassName() const override { return "TMainMenu"; }
};

// The caption without its accelerator marks ("&Файл" gives "Файл", "&&" gives "&").
String StripHotkey(const String& caption);
// The accelerator letter of a caption, or 0.
char GetHotkey(const String& caption);
