/* placeholder: filled in by the rsa family */
