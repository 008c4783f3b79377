#pragma once
// Registers the published properties of the framework's classes in the
// run-time type information (once; every control's constructor calls it).

void RegisterGuiClasses();
