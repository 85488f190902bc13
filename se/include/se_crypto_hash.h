/* placeholder: filled in by the hash family */
