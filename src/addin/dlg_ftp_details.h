#pragma once
// The "FTP Connection" dialog: site, user name and password of an FTP location.
#include <string>

#include "platform/widgets.h"

namespace skelder::addin {

class TfrmFtpDetails : public platform::Form {
 public:
  TfrmFtpDetails();
  platform::Component& Label1;
  platform::Component& Label2;
  platform::Component& Label3;
  platform::Component& edtFtpSite;
  platform::Component& edtUser;
  platform::Component& edtPassword;
  platform::Component& btnOK;
  platform::Component& btnCancel;

  void FormShow();
  void btnOKClick();
};

// Shows the dialog modally; the composed location on OK, empty text otherwise.
std::string ShowFtpDetails();

}  // namespace skelder::addin
