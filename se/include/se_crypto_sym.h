/* placeholder: filled in by the sym family */
