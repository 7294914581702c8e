#include "platform/widgets.h"

#include "platform/exception.h"
#include "platform/toolkit.h"

namespace skelder::platform {

void ReleaseHandlesOf(Form& form);  // toolkit.cpp

void Component::Click() {
  if (onClick) onClick();
  if (modalResult != mrNone && owner_) owner_->modalResult = modalResult;
}

Form::~Form() { ReleaseHandlesOf(*this); }

Component& Form::Add(const std::string& componentName, ComponentKind kind) {
  // Handlers and scripts find components by name; a second one of the same name would hide.
  if (Find(componentName)) throw Exception("Duplicate component " + componentName + " on " + name);
  components_.push_back(std::make_unique<Component>(this, componentName, kind));
  return *components_.back();
}

Component* Form::Find(const std::string& componentName) const {
  for (const auto& component : components_) {
    if (component->name == componentName) return component.get();
  }
  return nullptr;
}

Component& Form::Get(const std::string& componentName) const {
  Component* component = Find(componentName);
  if (!component) throw Exception("No component " + componentName + " on " + name);
  return *component;
}

namespace {

Component* KeyButton(const Form& form, bool Component::*role) {
  for (const auto& c : form.Components()) {
    if (c->kind == ComponentKind::Button && (*c).*role && c->enabled && c->visible &&
        (c->page == -1 || c->page == form.activePage))
      return c.get();
  }
  return nullptr;
}

}  // namespace

bool Form::PressEnter() {
  Component* button = KeyButton(*this, &Component::isDefault);
  if (button) button->Click();
  return button != nullptr;
}

bool Form::PressEscape() {
  Component* button = KeyButton(*this, &Component::isCancel);
  if (button) button->Click();
  return button != nullptr;
}

}  // namespace skelder::platform
