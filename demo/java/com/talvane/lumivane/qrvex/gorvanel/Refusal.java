package com.talvane.lumivane.qrvex.gorvanel;

/** A request that is not carried out; its message is the one line shown. */
final class Refusal extends Exception {
  private static final long serialVersionUID = 1L;

  Refusal(String message) {
    super(message);
  }
}
