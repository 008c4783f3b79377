#include "gui/Forms.h"

#include <algorithm>

#include "gui/GuardedHandler.h"
#include "gui/Published.h"

TDataModule::TDataModule(TComponent* AOwner) : TComponent(AOwner) {
    RegisterGuiClasses();
    Screen->FDataModules.push_back(this);
    BeginLoading();
}

TDataModule::~TDataModule() {
    BeforeDestruction();
    auto& modules = Screen->FDataModules;
    modules.erase(std::remove(modules.begin(), modules.end(), this), modules.end());
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
}

void TDataModule::AfterConstruction() {
    if (FCreated)
        return;
    FCreated = true;
    if (ComponentState().Contains(csLoading))
        EndLoading();
    gui_detail::Guarded(this, [&] {
        if (OnCreate)
            OnCreate(this);
    });
}

void TDataModule::BeforeDestruction() {
    if (FDestroyDone)
        return;
    FDestroyDone = true;
    Destroying();
    gui_detail::Guarded(this, [&] {
        if (OnDestroy)
            OnDestroy(this);
    });
}

void TDataModule::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opInsert && ComponentState().Contains(csLoading) &&
        AComponent->Owner() == this && !AComponent->ComponentState().Contains(csLoading)) {
        AComponent->BeginLoading();
    }
}

void FreeForm(TDataModule* module) {
    if (!module)
        return;
    module->BeforeDestruction();
    delete module;
}
